#include "platform/linux/linux_platform.hpp"

#include "base/files.hpp"

#include <canberra.h>

namespace tw::platform {
namespace {

class WebViewPage final : public PageView {
 public:
  explicit WebViewPage(WebKitWebView* view) : view_(WEBKIT_WEB_VIEW(g_object_ref(view))) {}
  ~WebViewPage() override { g_object_unref(view_); }
  void EvaluateCallback(const std::string& function, const std::string& argumentJSON) override {
    std::string script = ScriptText(function, argumentJSON);
    // No completion: the page's own errors are not ours to observe.
    webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
  }

 private:
  WebKitWebView* view_;
};

std::string MountPath(GMount* mount) {
  std::string path;
  GFile* root = g_mount_get_root(mount);
  if (char* raw = g_file_get_path(root)) {
    path = raw;
    g_free(raw);
  }
  g_object_unref(root);
  return path;
}

struct PanelCall {
  std::function<void(PanelResult)> done;
  PanelRequest::Kind kind;
  bool* openFlag;
};

void OnPanelResponse(GtkNativeDialog* dialog, int response, gpointer data) {
  auto* call = static_cast<PanelCall*>(data);
  PanelResult result;
  if (response == GTK_RESPONSE_ACCEPT) {
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    GListModel* files = gtk_file_chooser_get_files(chooser);
    for (guint i = 0, n = g_list_model_get_n_items(files); i < n; ++i) {
      auto* file = G_FILE(g_list_model_get_item(files, i));
      if (char* path = g_file_get_path(file)) {
        result.paths.emplace_back(path);
        g_free(path);
      }
      g_object_unref(file);
    }
    g_object_unref(files);
    result.ok = !result.paths.empty();
  }
  *call->openFlag = false;
  auto done = std::move(call->done);
  delete call;
  g_object_unref(dialog);
  done(std::move(result));
}

}  // namespace

LinuxPlatform::LinuxPlatform(GtkWindow* window, WebKitWebView* webView, std::string settingsPath)
    : window_(window), page_(std::make_shared<WebViewPage>(webView)), settings_(std::move(settingsPath)) {
  ca_context_create(&sounds_);
}

LinuxPlatform::~LinuxPlatform() {
  if (volumeMonitor_) g_object_unref(volumeMonitor_);
  if (sounds_) ca_context_destroy(sounds_);
}

void LinuxPlatform::RunPanel(const PanelRequest& request, std::function<void(PanelResult)> done) {
  GtkFileChooserAction action = GTK_FILE_CHOOSER_ACTION_OPEN;
  if (request.kind == PanelRequest::Kind::OpenFolder) action = GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER;
  if (request.kind == PanelRequest::Kind::SaveFile) action = GTK_FILE_CHOOSER_ACTION_SAVE;
  GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
      request.title.c_str(), window_, action, request.button.empty() ? nullptr : request.button.c_str(), nullptr);
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_select_multiple(chooser, request.multiple);
  gtk_file_chooser_set_create_folders(chooser, request.canCreateFolders || request.kind == PanelRequest::Kind::SaveFile);
  if (!request.directory.empty() && IsDirectory(request.directory)) {
    GFile* folder = g_file_new_for_path(request.directory.c_str());
    gtk_file_chooser_set_current_folder(chooser, folder, nullptr);
    g_object_unref(folder);
  }
  if (!request.suggestedName.empty()) gtk_file_chooser_set_current_name(chooser, request.suggestedName.c_str());
  if (!request.extensions.empty()) {
    GtkFileFilter* filter = gtk_file_filter_new();
    for (const auto& extension : request.extensions) gtk_file_filter_add_suffix(filter, extension.c_str());
    gtk_file_chooser_add_filter(chooser, filter);
    g_object_unref(filter);
  }
  panelOpen_ = true;
  auto* call = new PanelCall{std::move(done), request.kind, &panelOpen_};
  g_signal_connect(dialog, "response", G_CALLBACK(OnPanelResponse), call);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

bool LinuxPlatform::OpenURL(const std::string& url) {
  GError* error = nullptr;
  const bool launched = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
  g_clear_error(&error);
  return launched;
}

void LinuxPlatform::OpenFolder(const std::string& path) {
  GFile* folder = g_file_new_for_path(path.c_str());
  char* uri = g_file_get_uri(folder);
  g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
  g_free(uri);
  g_object_unref(folder);
}

void LinuxPlatform::Activate() {
  if (window_) gtk_window_present(window_);
}

void LinuxPlatform::PlaySound(const std::string& name) {
  if (!sounds_) return;
  // The freedesktop sound theme's closest event to a short "done" chime.
  const char* event = name == "Glass" ? "complete" : name.c_str();
  ca_context_play(sounds_, 0, CA_PROP_EVENT_ID, event, nullptr);
}

std::vector<std::string> LinuxPlatform::MountedVolumes() {
  std::vector<std::string> paths;
  GVolumeMonitor* monitor = g_volume_monitor_get();
  GList* mounts = g_volume_monitor_get_mounts(monitor);
  for (GList* item = mounts; item; item = item->next) {
    std::string path = MountPath(G_MOUNT(item->data));
    // The root file system is never a camera card.
    if (!path.empty() && path != "/") paths.push_back(path);
  }
  g_list_free_full(mounts, g_object_unref);
  g_object_unref(monitor);
  return paths;
}

void LinuxPlatform::WatchVolumeMounts(std::function<void(const std::string&)> mounted) {
  mountWatcher_ = std::move(mounted);
  if (!volumeMonitor_) {
    volumeMonitor_ = g_volume_monitor_get();
    g_signal_connect(volumeMonitor_, "mount-added", G_CALLBACK(OnMountAdded), this);
  }
}

void LinuxPlatform::OnMountAdded(GVolumeMonitor*, GMount* mount, gpointer self) {
  auto* platform = static_cast<LinuxPlatform*>(self);
  if (platform->mountWatcher_) platform->mountWatcher_(MountPath(mount));
}

}  // namespace tw::platform
