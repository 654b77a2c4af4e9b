#pragma once
// What the local image-generation set-up consists of and how far it is: Comfy Desktop's own list of
// ComfyUI instances, the instance's model folder, the four model files, the GGUF custom node and
// its Python package. Comfy Desktop's files are read for the few keys used here and within fixed
// sizes; nothing in them is trusted further. Any thread (file probing only).
#include "base/json.hpp"

#include <array>
#include <optional>
#include <string>

namespace tw::integrations {

struct ComfyInstallation {
  std::string id;
  std::string name;
  std::string path;  // absolute, symbolic links resolved
};

struct ComfyModelFile {
  const char* relativePath;  // below the model root
  unsigned long long size;   // exact size in bytes
};
// The files the installer downloads; comfy-setup.sh carries the same table.
const std::array<ComfyModelFile, 4>& ComfyModelFiles();

// Comfy Desktop's configuration folder: "Comfy Desktop" in the user's configuration folder.
std::string ComfyDesktopConfigFolder();

// The first installed standalone instance of installations.json with a ComfyUI/main.py.
std::optional<ComfyInstallation> comfyInstallation(const std::string& configFolder);
// The instance's models folder: base_path of instance-model-paths/<id>.yaml when it names an
// absolute folder other than "/", else <instance>/ComfyUI/models.
std::string comfyModelRootForInstallation(const ComfyInstallation& installation, const std::string& configFolder);

struct ModelReadiness {
  int ready = 0;
  unsigned long long missingBytes = 0;  // expected sizes of the files not ready
};
ModelReadiness ComfyModelReadiness(const std::string& modelRoot);
bool ComfyNodeReady(const std::string& instancePath);
bool ComfyDependencyReady(const std::string& instancePath);

// The twelve-key snapshot the page and the health report read.
Json ComfySetupSnapshot(const std::optional<ComfyInstallation>& installation, const std::string& configFolder,
                        bool desktopInstalled, bool busy);

}  // namespace tw::integrations
