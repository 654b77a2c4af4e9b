#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "base/text.hpp"
#include "platform/platform.hpp"

namespace tw::platform {
namespace {

std::string EntryFile(GDesktopAppInfo* info) {
  const char* file = info ? g_desktop_app_info_get_filename(info) : nullptr;
  return file ? file : "";
}

bool NameMatches(const char* name, const std::vector<std::string>& needles) {
  if (!name) return false;
  const std::string folded = ToLower(name);
  for (const auto& needle : needles) {
    if (!needle.empty() && folded.find(ToLower(needle)) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string FindDesktopEntry(const std::vector<std::string>& desktopIds, const std::vector<std::string>& names) {
  for (const auto& id : desktopIds) {
    GDesktopAppInfo* info = g_desktop_app_info_new(id.c_str());
    std::string file = EntryFile(info);
    if (info) g_object_unref(info);
    if (!file.empty()) return file;
  }
  std::string found;
  GList* all = g_app_info_get_all();
  for (GList* item = all; item && found.empty(); item = item->next) {
    if (!G_IS_DESKTOP_APP_INFO(item->data)) continue;
    auto* info = G_DESKTOP_APP_INFO(item->data);
    // The untranslated name as well: a Chinese desktop may show a localised one.
    char* plain = g_desktop_app_info_get_string(info, G_KEY_FILE_DESKTOP_KEY_NAME);
    if (NameMatches(g_app_info_get_name(G_APP_INFO(info)), names) || NameMatches(plain, names)) {
      found = EntryFile(info);
    }
    g_free(plain);
  }
  g_list_free_full(all, g_object_unref);
  return found;
}

LaunchOutcome LaunchWithGIO(const std::string& location) {
  GAppInfo* app = nullptr;
  GError* error = nullptr;
  if (EndsWith(location, ".desktop")) {
    app = G_APP_INFO(g_desktop_app_info_new_from_filename(location.c_str()));
  } else {
    // An executable (an AppImage, say) runs as its own command line; "%" would start a field code.
    char* quoted = g_shell_quote(location.c_str());
    std::string command;
    for (const char* c = quoted; *c; ++c) command += *c == '%' ? std::string("%%") : std::string(1, *c);
    g_free(quoted);
    app = g_app_info_create_from_commandline(command.c_str(), nullptr, G_APP_INFO_CREATE_NONE, &error);
  }
  LaunchOutcome outcome;
  if (app) outcome.launched = g_app_info_launch(app, nullptr, nullptr, &error);
  if (!outcome.launched) outcome.error = error ? error->message : "无法打开应用程序";
  if (error) g_error_free(error);
  if (app) g_object_unref(app);
  return outcome;
}

}  // namespace tw::platform
