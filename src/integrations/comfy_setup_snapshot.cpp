#include "integrations/comfy_setup_snapshot.hpp"

#include "base/files.hpp"
#include "base/text.hpp"
#include "integrations/integration_texts.hpp"
#include "platform/settings.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <dirent.h>
#include <pcre2.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace tw::integrations {
namespace {

// Comfy Desktop's files are small; anything larger is no file of its own.
constexpr size_t kMaxInstallationsBytes = 1u << 20;
constexpr size_t kMaxInstallationsNesting = 16;
constexpr size_t kMaxModelPathsBytes = 256u << 10;
// A virtual environment's lib folder holds one python3.x folder; a folder crowded beyond this is
// not looked through.
constexpr int kMaxLibEntries = 256;
constexpr unsigned long long kAlternativeVAESize = 336213556;

std::optional<std::string> ReadSmallFile(const std::string& path, size_t limit) {
  const ReadableFile file = ReadableFile::Open(path);
  if (!file) return std::nullopt;
  std::optional<std::string> bytes = ReadAtMost(file, limit);
  if (!bytes || bytes->size() > limit) return std::nullopt;
  return bytes;
}

std::optional<std::string> ResolvedPath(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) return std::nullopt;
  return std::string(resolved);
}

// A folder that may not exist yet keeps its spelling, tidied of "." and "..".
std::string StandardizedFolder(const std::string& path) {
  if (auto resolved = ResolvedPath(path)) return *resolved;
  std::string tidy = std::filesystem::path(path).lexically_normal().string();
  while (tidy.size() > 1 && tidy.back() == '/') tidy.pop_back();
  return tidy;
}

std::optional<std::string> YamlBasePath(const std::string& text) {
  static const std::shared_ptr<pcre2_code> pattern = [] {
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(R"(^\s*base_path:\s*['"]([^'"]+)['"])"),
                                     PCRE2_ZERO_TERMINATED, PCRE2_MULTILINE | PCRE2_UTF, &error, &offset, nullptr);
    return std::shared_ptr<pcre2_code>(code, pcre2_code_free);
  }();
  if (!pattern || !IsValidUTF8(text)) return std::nullopt;
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
      pcre2_match_data_create_from_pattern(pattern.get(), nullptr), pcre2_match_data_free);
  if (pcre2_match(pattern.get(), reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, match.get(),
                  nullptr) < 2) {
    return std::nullopt;
  }
  const PCRE2_SIZE* groups = pcre2_get_ovector_pointer(match.get());
  return text.substr(groups[2], groups[3] - groups[2]);
}

unsigned long long FileSize(const std::string& path) {
  FileStat st = StatPath(path);
  return st.isRegular ? st.size : 0;
}

long MemoryGB() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<long>((static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(pageSize)) >> 30);
}

}  // namespace

const std::array<ComfyModelFile, 4>& ComfyModelFiles() {
  static const std::array<ComfyModelFile, 4> files = {{
      {"diffusion_models/flux-2-klein-4b-Q4_K_M.gguf", 2604311104ull},
      {"text_encoders/qwen_3_4b_fp4_flux2.safetensors", 3848213998ull},
      {"vae/flux2-vae.safetensors", 336211292ull},
      {"upscale_models/realesr-general-x4v3.pth", 4885111ull},
  }};
  return files;
}

std::string ComfyDesktopConfigFolder() { return JoinPath(platform::UserConfigFolder(), "Comfy Desktop"); }

std::optional<ComfyInstallation> comfyInstallation(const std::string& configFolder) {
  std::optional<std::string> text = ReadSmallFile(JoinPath(configFolder, "installations.json"), kMaxInstallationsBytes);
  if (!text) return std::nullopt;
  std::optional<Json> list = ParseJSONWithin(*text, kMaxInstallationsNesting);
  if (!list || !list->is_array()) return std::nullopt;
  for (const Json& entry : *list) {
    if (!entry.is_object() || StringField(entry, "status") != "installed" ||
        StringField(entry, "sourceId") != "standalone") {
      continue;
    }
    const std::string installPath = StringField(entry, "installPath");
    if (!StartsWith(installPath, "/")) continue;
    std::optional<std::string> path = ResolvedPath(installPath);
    if (!path || !StatPath(JoinPath(*path, "ComfyUI/main.py")).isRegular) continue;
    const Json& name = FieldOr(entry, "name", nullptr);
    return ComfyInstallation{StringField(entry, "id"),
                             name.is_string() ? name.get<std::string>() : texts::kDefaultInstanceName, *path};
  }
  return std::nullopt;
}

std::string comfyModelRootForInstallation(const ComfyInstallation& installation, const std::string& configFolder) {
  const std::string fallback = JoinPath(installation.path, "ComfyUI/models");
  // The id names a file: one that could leave the folder is not read.
  if (installation.id.empty() || installation.id.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    return fallback;
  }
  std::optional<std::string> text =
      ReadSmallFile(JoinPath(configFolder, "instance-model-paths/" + installation.id + ".yaml"), kMaxModelPathsBytes);
  std::optional<std::string> base = text ? YamlBasePath(*text) : std::nullopt;
  if (!base) return fallback;
  const std::string root = StandardizedFolder(*base);
  return StartsWith(root, "/") && root != "/" ? root : fallback;
}

ModelReadiness ComfyModelReadiness(const std::string& modelRoot) {
  ModelReadiness readiness;
  for (const ComfyModelFile& file : ComfyModelFiles()) {
    const unsigned long long size = FileSize(JoinPath(modelRoot, file.relativePath));
    const bool ready =
        size == file.size || (StartsWith(file.relativePath, "vae/") && size == kAlternativeVAESize);
    if (ready) {
      ++readiness.ready;
    } else {
      readiness.missingBytes += file.size;
    }
  }
  return readiness;
}

bool ComfyNodeReady(const std::string& instancePath) {
  return PathExists(JoinPath(instancePath, "ComfyUI/custom_nodes/ComfyUI-GGUF/nodes.py"));
}

bool ComfyDependencyReady(const std::string& instancePath) {
  const std::string lib = JoinPath(instancePath, "ComfyUI/.venv/lib");
  DIR* folder = opendir(lib.c_str());
  if (!folder) return false;
  bool found = false;
  int seen = 0;
  while (dirent* entry = readdir(folder)) {
    if (++seen > kMaxLibEntries) break;
    if (!StartsWith(entry->d_name, "python")) continue;
    if (PathExists(JoinPath(JoinPath(lib, entry->d_name), "site-packages/gguf/__init__.py"))) {
      found = true;
      break;
    }
  }
  closedir(folder);
  return found;
}

Json ComfySetupSnapshot(const std::optional<ComfyInstallation>& installation, const std::string& configFolder,
                        bool desktopInstalled, bool busy) {
  const std::string modelRoot = installation ? comfyModelRootForInstallation(*installation, configFolder) : "";
  ModelReadiness models;
  if (installation) {
    models = ComfyModelReadiness(modelRoot);
  } else {
    // Without an instance there is no model folder: every file is missing.
    for (const ComfyModelFile& file : ComfyModelFiles()) models.missingBytes += file.size;
  }
  return Json{{"desktopInstalled", desktopInstalled ? 1 : 0},
              {"instanceInstalled", installation ? 1 : 0},
              {"instanceName", installation ? installation->name : ""},
              {"instancePath", installation ? installation->path : ""},
              {"modelRoot", modelRoot},
              {"modelsReady", models.ready},
              {"modelsTotal", static_cast<int>(ComfyModelFiles().size())},
              {"nodeReady", installation && ComfyNodeReady(installation->path)},
              {"dependencyReady", installation && ComfyDependencyReady(installation->path)},
              {"missingBytes", models.missingBytes},
              {"memoryGB", MemoryGB()},
              {"busy", busy ? 1 : 0}};
}

}  // namespace tw::integrations
