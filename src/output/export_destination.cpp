#include "output/export_destination.hpp"

#include "base/files.hpp"
#include "base/uuid.hpp"

#include <fmt/format.h>
#include <sys/stat.h>

namespace tw::output {
// Asked without following links: a dangling link still occupies the name.
bool NameTaken(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

ConflictMode ConflictModeFromText(const std::string& text) {
  if (text == "skip") return ConflictMode::Skip;
  if (text == "replace") return ConflictMode::Replace;
  return ConflictMode::Rename;
}

NameParts SplitName(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name[dot - 1] == '/' || name.find('/', dot) != std::string::npos) {
    return {name, ""};
  }
  return {name.substr(0, dot), name.substr(dot + 1)};
}

std::string JoinName(const std::string& stem, const std::string& extension) {
  return extension.empty() ? stem : stem + "." + extension;
}

std::string NumberedName(const std::string& name, long n) {
  if (n == 0) return name;
  NameParts parts = SplitName(name);
  if (n > kLastNumberedName) return JoinName(parts.stem + "-" + NewUUIDString(), parts.extension);
  return JoinName(fmt::format("{}（{}）", parts.stem, n), parts.extension);
}

std::optional<std::string> ExportDestination(const std::string& folder, const std::string& name, ConflictMode mode,
                                             bool* skipped) {
  std::string candidate = JoinPath(folder, name);
  if (!NameTaken(candidate)) return candidate;
  switch (mode) {
    case ConflictMode::Skip:
      if (skipped) *skipped = true;
      return std::nullopt;
    case ConflictMode::Replace:
      return candidate;
    case ConflictMode::Rename:
      break;
  }
  for (long n = 1;; ++n) {
    candidate = JoinPath(folder, NumberedName(name, n));
    if (n > kLastNumberedName || !NameTaken(candidate)) return candidate;
  }
}

std::string DatedFolderName(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

}  // namespace tw::output
