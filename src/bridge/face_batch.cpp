#include "bridge/face_batch.hpp"

#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/uuid.hpp"
#include "bridge/bridge_texts.hpp"
#include "bridge/input_images.hpp"
#include "library/imaging/decoding.hpp"
#include "output/staged_file.hpp"

#include <fmt/format.h>

#include <cerrno>

namespace tw::bridge {
namespace {

constexpr char kThumbnailFolder[] = "FaceBatchThumbnails";
constexpr int kThumbnailSize = 600;
constexpr double kThumbnailQuality = 0.84;
constexpr int kMaxOutputNumber = 9999;
constexpr char kDefaultImageSize[] = "1K";
constexpr char kAspectRatio[] = "auto";

std::string DisplayName(const std::string& path) {
  std::string name = LastPathComponent(path);
  return name.empty() ? std::string(texts::kDefaultPhotoName) : name;
}

// The name without its extension.
std::string BaseName(const std::string& path) {
  std::string name = LastPathComponent(path);
  std::string extension = PathExtension(name);
  return extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
}

// Worker: a queue item for a photo that gives a thumbnail.
std::optional<Json> QueueItem(const std::string& path, const std::string& thumbnailFolder) {
  imaging::MaybeImage thumbnail = imaging::CreateThumbnail(path, kThumbnailSize);
  if (!thumbnail) return std::nullopt;
  const std::string file = JoinPath(thumbnailFolder, PathHashFileName(path));
  // A thumbnail that could not be written is still listed: the page shows a blank tile for it.
  if (auto jpeg = imaging::EncodeJPEG(*thumbnail, kThumbnailQuality)) {
    WriteFileAtomically(file, *jpeg, 0666, Durability::Cached);
  }
  return Json{{"id", NewUUIDString()}, {"name", DisplayName(path)}, {"path", path}, {"thumbnail", FileURLFromPath(file)}};
}

}  // namespace

std::optional<std::string> MoveToFaceBatchOutput(const std::string& generated, const std::string& source,
                                                 const std::string& folder) {
  CreateDirectories(folder);  // a failure shows in the move
  std::string base = BaseName(source);
  if (base.empty()) base = texts::kDefaultOutputBase;
  std::string extension = PathExtension(generated);
  if (extension.empty()) extension = "png";
  for (int n = 1; n <= kMaxOutputNumber + 1; ++n) {
    std::string number = n <= kMaxOutputNumber ? std::to_string(n) : NewUUIDString();
    std::string target = JoinPath(folder, fmt::format(texts::kOutputName, base, number, extension));
    int error = output::PlaceExclusively(generated, target);
    if (error == 0) return target;
    if (error != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

FaceBatch::FaceBatch(FeatureHost& host, std::shared_ptr<ai::TWGRSAIClient> client,
                     std::shared_ptr<TWBridgeServer> server)
    : host_(host), client_(std::move(client)), server_(std::move(server)) {}

void FaceBatch::Failed(const std::string& id, const std::string& message) {
  host_.Call("window.Native.faceBatchFailed", Json{{"id", id}, {"message", message}});
}

// ---- panels ----------------------------------------------------------------------------------

void FaceBatch::chooseFaceTemplateImage(const std::string& stage) {
  if (stage != "before" && stage != "after") return;
  platform::PanelRequest panel;
  panel.kind = platform::PanelRequest::Kind::OpenFiles;
  panel.title = stage == "before" ? texts::kTemplateBeforeTitle : texts::kTemplateAfterTitle;
  panel.button = texts::kTemplateButton;
  panel.extensions = {"jpg", "jpeg", "png", "tif", "tiff", "heic", "heif"};
  host_.presentFilePanel(panel, [this, stage](platform::PanelResult result) {
    if (!result.ok) return;
    queues::Global(QoS::UserInitiated, [this, stage, path = result.paths.front()] {
      std::string preview = imaging::ImagePreviewDataURL(path);
      if (preview.empty()) {
        host_.Status(texts::kUnreadableTemplate);
        return;
      }
      host_.Call("window.Native.templateImageSelected",
                 Json{{"stage", stage}, {"image", {{"name", DisplayName(path)}, {"path", path}, {"preview", preview}}}});
    });
  });
}

void FaceBatch::chooseFaceBatchPhotos() {
  platform::PanelRequest panel;
  panel.kind = platform::PanelRequest::Kind::OpenFiles;
  panel.title = texts::kBatchPhotosTitle;
  panel.button = texts::kBatchPhotosButton;
  panel.multiple = true;
  panel.extensions = {"jpg", "jpeg", "png", "tif", "tiff", "heic", "heif", "cr3", "webp"};
  host_.presentFilePanel(panel, [this](platform::PanelResult result) {
    if (!result.ok) return;
    queues::Global(QoS::UserInitiated, [this, paths = std::move(result.paths)] {
      const std::string folder = JoinPath(host_.supportFolder(), kThumbnailFolder);
      CreateDirectories(folder);
      Json items = Json::array();
      for (const std::string& path : paths) {
        if (auto item = QueueItem(path, folder)) items.push_back(std::move(*item));
      }
      host_.Call("window.Native.faceBatchPhotosSelected", Json{{"items", std::move(items)}});
    });
  });
}

void FaceBatch::chooseSaveLocation() {
  platform::PanelRequest panel;
  panel.kind = platform::PanelRequest::Kind::OpenFolder;
  panel.title = texts::kSaveLocationTitle;
  panel.button = texts::kSaveLocationButton;
  panel.canCreateFolders = true;
  panel.directory = server_->saveLocation();
  host_.presentFilePanel(panel, [this](platform::PanelResult result) {
    if (!result.ok) return;
    const std::string& folder = result.paths.front();
    // Generated images are written there later: only an absolute path of a folder will do.
    if (folder.empty() || folder[0] != '/' || !IsDirectory(folder)) return;
    host_.platform().settings().Set(kRetouchSaveLocationSetting, folder);
    server_->updateSaveLocation(folder);
  });
}

// ---- one item --------------------------------------------------------------------------------

void FaceBatch::generateFaceBatchItem(const Json& body) {
  Json itemField = ObjectField(body, "item");
  Json templatePair = ObjectField(body, "template");
  Item item{StringField(itemField, "id"), StringField(itemField, "path")};
  const std::string before = StringField(ObjectField(templatePair, "before"), "path");
  const std::string after = StringField(ObjectField(templatePair, "after"), "path");
  if (item.id.empty() || item.path.empty() || before.empty() || after.empty()) {
    return Failed(item.id, texts::kItemIncomplete);
  }
  if (server_->saveLocation().empty()) return Failed(item.id, texts::kNoSaveLocation);

  std::string templateName = StringField(templatePair, "name");
  auto name = templatePair.find("name");
  if (name == templatePair.end() || !name->is_string()) templateName = texts::kDefaultTemplateName;
  auto imageSize = body.find("imageSize");
  Json payload = {{"prompt", fmt::format(texts::kFaceBatchInstruction, templateName, StringField(body, "prompt"))},
                  {"imageSize", imageSize != body.end() && imageSize->is_string() ? *imageSize : Json(kDefaultImageSize)},
                  {"aspectRatio", kAspectRatio}};

  // Rendering a raw photo takes a while: it happens on a worker, and a cancel or a newer item
  // meanwhile makes its result go unused.
  const std::string request = NewUUIDString();
  preparingRequest_ = request;
  queues::Global(QoS::UserInitiated, [this, request, item, sources = std::vector<std::string>{item.path, before, after},
                                      payload = std::move(payload), support = host_.supportFolder(),
                                      lens = host_.LensCorrectionEnabled()]() mutable {
    std::optional<Json> images = Json::array();
    for (const std::string& source : sources) {
      auto prepared = PreparedAIImage(source, support, lens);
      if (!prepared) {
        images.reset();
        break;
      }
      images->push_back(std::move(*prepared));
    }
    queues::Main([this, request, item, images = std::move(images), payload = std::move(payload)]() mutable {
      startGeneration(request, item, std::move(images), std::move(payload));
    });
  });
}

void FaceBatch::startGeneration(const std::string& request, const Item& item, std::optional<Json> images,
                                Json payload) {
  if (preparingRequest_ != request) return;
  preparingRequest_.reset();
  if (!images) return Failed(item.id, texts::kPreparationFailed);
  activeFaceBatchID_ = item.id;
  payload["images"] = std::move(*images);
  client_->generateWithPayload(
      payload, server_->saveLocation(),
      [this, id = item.id](int percent, const std::string& stage, const std::string& detail) {
        queues::Main([this, id, percent, stage, detail] {
          if (activeFaceBatchID_ != id) return;
          host_.Call("window.Native.faceBatchProgress",
                     Json{{"id", id},
                          {"progress", percent},
                          {"stage", stage.empty() ? std::string(texts::kDefaultStage) : stage},
                          {"detail", detail}});
        });
      },
      [this, item](std::optional<Json> result, std::optional<Error> error) {
        queues::Main([this, item, result = std::move(result), error = std::move(error)]() mutable {
          finishItem(item, std::move(result), std::move(error));
        });
      });
}

void FaceBatch::finishItem(const Item& item, std::optional<Json> result, std::optional<Error> error) {
  if (activeFaceBatchID_ != item.id) return;
  // Silenced by a newer generation on the shared client (a plug-in's request or its cancel): the
  // item stays the current one until the next item or a cancel, and reports nothing more.
  if (error && error->code == ai::codes::kCancelled) return;
  activeFaceBatchID_.reset();
  if (error || !result) {
    return Failed(item.id, error && !error->message.empty() ? error->message : std::string(texts::kAIUnavailable));
  }
  const std::string generated = StringField(*result, "filePath");
  if (!generated.empty()) {
    if (auto moved = MoveToFaceBatchOutput(generated, item.path, server_->saveLocation())) {
      (*result)["filePath"] = *moved;
      (*result)["fileName"] = LastPathComponent(*moved);
    }
  }
  host_.Call("window.Native.faceBatchComplete", Json{{"id", item.id}, {"result", std::move(*result)}});
}

void FaceBatch::cancel() {
  activeFaceBatchID_.reset();
  preparingRequest_.reset();
  client_->cancelCurrentTask();
}

}  // namespace tw::bridge
