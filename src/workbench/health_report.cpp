#include "workbench/health_report.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "base/uuid.hpp"
#include "workbench/redaction.hpp"
#include "workbench/workbench_texts.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

namespace tw::workbench {
namespace {

Json Row(const char* name, Json ok, std::string message) {
  return Json{{"name", name}, {"ok", std::move(ok)}, {"message", std::move(message)}};
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

Json BridgeRow(const Json& bridgeState) {
  const bool connected = BoolField(bridgeState, "connected", false);
  return Row(texts::kBridgeRow, connected, connected ? texts::kBridgeConnected : texts::kBridgeNotConnected);
}

Json SaveLocationRow(bool writable) {
  return Row(texts::kSaveLocationRow, writable, writable ? texts::kSaveLocationWritable : texts::kSaveLocationUnusable);
}

Json LocalProcessingRow() { return Row(texts::kLocalRow, true, texts::kLocalMessage); }

Json LocalModelRow(const Json& comfySetup) {
  const double counted = NumberField(comfySetup, "modelsReady").value_or(0);
  const long models = std::isfinite(counted) ? static_cast<long>(counted) : 0;
  const bool node = BoolField(comfySetup, "nodeReady", false);
  const bool dependency = BoolField(comfySetup, "dependencyReady", false);
  return Row(texts::kLocalModelRow, models == 4 && node && dependency ? 1 : 0,
             fmt::format(texts::kLocalModelMessage, models, node ? texts::kConfigured : texts::kNotConfigured,
                         dependency ? texts::kConfigured : texts::kNotConfigured));
}

Json CloudRow(const Json& aiState, const std::string& apiKey) {
  const std::string status = StringField(aiState, "status");
  std::string detail = StringField(aiState, "detail");
  if (detail.empty()) detail = status.empty() ? texts::kCloudNotConfigured : status;
  return Row(texts::kCloudRow, status == texts::kCloudConnected, RedactWithSecret(detail, apiKey));
}

bool SaveLocationWritable(const std::string& folder) {
  if (!StartsWith(folder, "/") || !IsDirectory(folder)) return false;
  const std::string path = JoinPath(folder, texts::kWriteCheckPrefix + NewUUIDString());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = WriteAll(fd, texts::kWriteCheckContent);
  if (close(fd) != 0) written = false;
  unlink(path.c_str());
  return written;
}

}  // namespace tw::workbench
