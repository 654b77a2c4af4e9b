#include "shell/desktop.hpp"

#include "app/action_table.hpp"
#include "app/app_delegate.hpp"
#include "app/build_info.hpp"
#include "app/support_folder.hpp"
#include "base/files.hpp"
#include "base/queues.hpp"
#include "base/text.hpp"
#include "platform/linux/linux_platform.hpp"
#include "platform/resource_location.hpp"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace tw::shell {
namespace {

constexpr const char* kNoDisplay =
    "岚舟需要图形显示（未设置 DISPLAY 或 WAYLAND_DISPLAY），无法打开窗口；无窗口运行请用 tidewick --headless。";
// The page's own background (--bg in its style sheet), shown by the view until the page paints.
constexpr GdkRGBA kPageBackground = {0x3b / 255.0f, 0x3b / 255.0f, 0x3b / 255.0f, 1.0f};

// The main queue on the desktop is GLib's default main context. Idle sources of one priority run
// in the order they were added, so tasks keep their posting order.
class GLibMainDriver final : public MainQueueDriver {
 public:
  void Post(Task task) override {
    auto* heap = new Task(std::move(task));
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          (*static_cast<Task*>(data))();
          return G_SOURCE_REMOVE;
        },
        heap, [](gpointer data) { delete static_cast<Task*>(data); });
  }
};

struct Desktop {
  app::SupportFolderChoice choice;
  GtkApplication* application = nullptr;
  GtkWindow* window = nullptr;
  WebKitWebView* webView = nullptr;
  std::string pageURI;
  std::unique_ptr<platform::LinuxPlatform> platform;
  std::unique_ptr<app::AppDelegate> controller;
  bool traceReady = std::getenv("TIDEWICK_TRACE_READY") != nullptr;
  bool pageSaved = false;  // the page's last save is written: the window may go
};

// Every way out (the menu's quit, the window's close button, the session ending, a termination
// signal) first lets the page hand over the changes it has not saved yet.
void Quit(Desktop* desktop) {
  if (!desktop->controller || desktop->pageSaved) {
    g_application_quit(G_APPLICATION(desktop->application));
    return;
  }
  desktop->controller->prepareToQuit([desktop] {
    desktop->pageSaved = true;
    g_application_quit(G_APPLICATION(desktop->application));
  });
}

gboolean OnCloseRequest(GtkWindow*, gpointer data) {
  auto* desktop = static_cast<Desktop*>(data);
  if (desktop->pageSaved) return FALSE;
  Quit(desktop);
  return TRUE;
}

// The session is about to end: the logout waits (where a session manager listens) until the page's
// save is written.
void OnQueryEnd(GtkApplication* application, gpointer data) {
  auto* desktop = static_cast<Desktop*>(data);
  if (!desktop->controller || desktop->pageSaved) return;
  guint cookie = gtk_application_inhibit(application, desktop->window, GTK_APPLICATION_INHIBIT_LOGOUT, "正在保存项目");
  desktop->controller->prepareToQuit([desktop, cookie] {
    if (cookie != 0) gtk_application_uninhibit(desktop->application, cookie);
    desktop->pageSaved = true;
    g_application_quit(G_APPLICATION(desktop->application));
  });
}

gboolean OnTerminationSignal(gpointer data) {
  Quit(static_cast<Desktop*>(data));
  return G_SOURCE_CONTINUE;
}

void OnScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data) {
  auto* desktop = static_cast<Desktop*>(data);
  Json body = Json::object();
  if (char* text = jsc_value_to_json(value, 0)) {
    if (auto parsed = ParseJSON(text)) body = std::move(*parsed);
    g_free(text);
  }
  // Tests of the real window follow the page through these lines.
  if (desktop->traceReady) {
    const std::string action = StringField(body, "action");
    std::cerr << (action == "ready" ? std::string("tidewick: page ready") : "tidewick: page posted " + action)
              << std::endl;
  }
  desktop->controller->didReceiveScriptMessage(body);
}

// Only the bundled page may be shown: every page in this view could post native actions. Web
// links open in the user's browser instead.
gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                        gpointer data) {
  auto* desktop = static_cast<Desktop*>(data);
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  std::string uri = webkit_uri_request_get_uri(request);
  std::string withoutFragment = uri.substr(0, uri.find('#'));
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && withoutFragment == desktop->pageURI) {
    webkit_policy_decision_use(decision);
    return TRUE;
  }
  std::string scheme = ToLower(uri.substr(0, uri.find(':')));
  if (scheme == "http" || scheme == "https") desktop->platform->OpenURL(uri);
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

using MenuRun = void (*)(Desktop*);

struct MenuAction {
  Desktop* desktop;
  MenuRun run;
};

void ActivateMenuAction(GSimpleAction*, GVariant*, gpointer data) {
  auto* action = static_cast<MenuAction*>(data);
  action->run(action->desktop);
}

void AddAction(Desktop* desktop, const char* name, MenuRun run) {
  GSimpleAction* action = g_simple_action_new(name, nullptr);
  // Lives as long as the application.
  auto* target = new MenuAction{desktop, run};
  g_signal_connect(action, "activate", G_CALLBACK(ActivateMenuAction), target);
  g_action_map_add_action(G_ACTION_MAP(desktop->application), G_ACTION(action));
  g_object_unref(action);
}

void Edit(Desktop* desktop, const char* command) {
  if (desktop->webView) webkit_web_view_execute_editing_command(desktop->webView, command);
}

void InstallMainMenu(Desktop* desktop) {
  AddAction(desktop, "about", [](Desktop* d) {
    gtk_show_about_dialog(d->window, "program-name", "岚舟", "version", build_info::kShortVersion, "comments",
                          "为摄影师筛片与修整的工作台", nullptr);
  });
  AddAction(desktop, "hide", [](Desktop* d) { if (d->window) gtk_window_minimize(d->window); });
  AddAction(desktop, "unhide", [](Desktop* d) { if (d->window) gtk_window_present(d->window); });
  AddAction(desktop, "quit", [](Desktop* d) { Quit(d); });
  AddAction(desktop, "undo", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_UNDO); });
  AddAction(desktop, "redo", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_REDO); });
  AddAction(desktop, "cut", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_CUT); });
  AddAction(desktop, "copy", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_COPY); });
  AddAction(desktop, "paste", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_PASTE); });
  AddAction(desktop, "select-all", [](Desktop* d) { Edit(d, WEBKIT_EDITING_COMMAND_SELECT_ALL); });
  AddAction(desktop, "minimize", [](Desktop* d) { if (d->window) gtk_window_minimize(d->window); });
  AddAction(desktop, "zoom", [](Desktop* d) {
    if (!d->window) return;
    if (gtk_window_is_maximized(d->window)) gtk_window_unmaximize(d->window); else gtk_window_maximize(d->window);
  });

  // The editing keys are left to the web view, which offers them to the page first: the page
  // uses Ctrl+Z for undoing a decision and Ctrl+A for selecting photos. Their menu items only
  // show the keys (the "accel" attribute below) and act on text when chosen with the mouse.
  struct Accel { const char* action; const char* key; };
  const Accel accels[] = {{"app.hide", "<Control>h"}, {"app.quit", "<Control>q"}, {"app.minimize", "<Control>m"}};
  for (const auto& accel : accels) {
    const char* keys[] = {accel.key, nullptr};
    gtk_application_set_accels_for_action(desktop->application, accel.action, keys);
  }

  GMenu* bar = g_menu_new();
  GMenu* appMenu = g_menu_new();
  GMenu* aboutSection = g_menu_new();
  g_menu_append(aboutSection, "关于岚舟", "app.about");
  GMenu* hideSection = g_menu_new();
  g_menu_append(hideSection, "隐藏岚舟", "app.hide");
  g_menu_append(hideSection, "显示全部", "app.unhide");
  GMenu* quitSection = g_menu_new();
  g_menu_append(quitSection, "退出岚舟", "app.quit");
  g_menu_append_section(appMenu, nullptr, G_MENU_MODEL(aboutSection));
  g_menu_append_section(appMenu, nullptr, G_MENU_MODEL(hideSection));
  g_menu_append_section(appMenu, nullptr, G_MENU_MODEL(quitSection));
  g_menu_append_submenu(bar, "岚舟", G_MENU_MODEL(appMenu));

  GMenu* editMenu = g_menu_new();
  auto appendShowingKey = [](GMenu* menu, const char* label, const char* action, const char* key) {
    GMenuItem* item = g_menu_item_new(label, action);
    g_menu_item_set_attribute(item, "accel", "s", key);
    g_menu_append_item(menu, item);
    g_object_unref(item);
  };
  GMenu* undoSection = g_menu_new();
  appendShowingKey(undoSection, "撤销", "app.undo", "<Control>z");
  appendShowingKey(undoSection, "重做", "app.redo", "<Control><Shift>z");
  GMenu* clipboardSection = g_menu_new();
  appendShowingKey(clipboardSection, "剪切", "app.cut", "<Control>x");
  appendShowingKey(clipboardSection, "复制", "app.copy", "<Control>c");
  appendShowingKey(clipboardSection, "粘贴", "app.paste", "<Control>v");
  appendShowingKey(clipboardSection, "全选", "app.select-all", "<Control>a");
  g_menu_append_section(editMenu, nullptr, G_MENU_MODEL(undoSection));
  g_menu_append_section(editMenu, nullptr, G_MENU_MODEL(clipboardSection));
  g_menu_append_submenu(bar, "编辑", G_MENU_MODEL(editMenu));

  GMenu* windowMenu = g_menu_new();
  g_menu_append(windowMenu, "最小化", "app.minimize");
  g_menu_append(windowMenu, "缩放", "app.zoom");
  g_menu_append_submenu(bar, "窗口", G_MENU_MODEL(windowMenu));

  gtk_application_set_menubar(desktop->application, G_MENU_MODEL(bar));
  for (GMenu* menu : {aboutSection, hideSection, quitSection, appMenu, undoSection, clipboardSection, editMenu,
                      windowMenu, bar}) {
    g_object_unref(menu);
  }
}

void CreateWindow(Desktop* desktop) {
  if (desktop->window) return;
  WebKitUserContentManager* contentManager = webkit_user_content_manager_new();
  webkit_user_content_manager_register_script_message_handler(contentManager, "native", nullptr);
  g_signal_connect(contentManager, "script-message-received::native", G_CALLBACK(OnScriptMessage), desktop);

  desktop->webView =
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", contentManager, nullptr));
  g_object_unref(contentManager);
  WebKitSettings* settings = webkit_web_view_get_settings(desktop->webView);
  // Thumbnails and previews are file URLs in the data folder; the page reads them from its file URL.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  g_signal_connect(desktop->webView, "decide-policy", G_CALLBACK(OnDecidePolicy), desktop);
  webkit_web_view_set_background_color(desktop->webView, &kPageBackground);

  GtkWidget* window = gtk_application_window_new(desktop->application);
  desktop->window = GTK_WINDOW(window);
  gtk_window_set_title(desktop->window, app::WindowTitle(desktop->choice.testMode));
  gtk_window_set_default_size(desktop->window, 1220, 780);
  gtk_widget_set_size_request(GTK_WIDGET(desktop->webView), 980, 650);
  gtk_application_window_set_show_menubar(GTK_APPLICATION_WINDOW(window), TRUE);
  gtk_window_set_child(desktop->window, GTK_WIDGET(desktop->webView));
  gtk_window_set_icon_name(desktop->window, "tidewick");
  g_signal_connect(desktop->window, "close-request", G_CALLBACK(OnCloseRequest), desktop);

  desktop->platform = std::make_unique<platform::LinuxPlatform>(desktop->window, desktop->webView,
                                                               platform::Settings::DefaultPath());
  desktop->controller = std::make_unique<app::AppDelegate>(
      *desktop->platform, app::LaunchOptions{desktop->choice.folder, desktop->choice.testMode});

  std::string index = JoinPath(JoinPath(platform::ResourceDirectory(), "Web"), "index.html");
  GFile* file = g_file_new_for_path(index.c_str());
  char* uri = g_file_get_uri(file);
  desktop->pageURI = uri;
  webkit_web_view_load_uri(desktop->webView, uri);
  g_free(uri);
  g_object_unref(file);

  desktop->controller->applicationDidFinishLaunching();
  gtk_window_present(desktop->window);
}

}  // namespace

int RunDesktop(const std::vector<std::string>& arguments) {
  auto choice = app::ChooseSupportFolder(arguments, build_info::kTestSupportDirectory);
  if (choice.refused) {
    std::cerr << app::kInvalidTestFolderLog << std::endl;
    return 1;
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!display || !*display) && (!wayland || !*wayland)) {
    std::cerr << kNoDisplay << std::endl;
    return 1;
  }

  g_set_prgname("tidewick");
  g_set_application_name("岚舟");
  if (!gtk_init_check()) {
    std::cerr << kNoDisplay << std::endl;
    return 1;
  }

  // The photos sit on a dark page; a light header and menu bar above them would change how they look.
  g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);

  // The window's icon comes from the icon theme; the resources carry it too, so a run from the build
  // folder, where nothing is installed, shows it as well.
  gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                                 JoinPath(platform::ResourceDirectory(), "icons").c_str());

  GLibMainDriver driver;
  queues::SetMainDriver(&driver);

  auto flags = static_cast<GApplicationFlags>(G_APPLICATION_HANDLES_OPEN |
                                              (choice.testMode ? G_APPLICATION_NON_UNIQUE : 0));
  Desktop desktop;
  desktop.choice = choice;
  desktop.application = gtk_application_new("com.avo.tidewick", flags);
  g_object_set(desktop.application, "register-session", TRUE, nullptr);
  g_signal_connect(desktop.application, "query-end", G_CALLBACK(OnQueryEnd), &desktop);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) g_unix_signal_add(signal, OnTerminationSignal, &desktop);
  g_signal_connect(desktop.application, "startup", G_CALLBACK(+[](GApplication*, gpointer data) {
                     InstallMainMenu(static_cast<Desktop*>(data));
                   }),
                   &desktop);
  g_signal_connect(desktop.application, "activate", G_CALLBACK(+[](GApplication*, gpointer data) {
                     CreateWindow(static_cast<Desktop*>(data));
                   }),
                   &desktop);
  g_signal_connect(desktop.application, "open",
                   G_CALLBACK(+[](GApplication*, GFile** files, int count, const char*, gpointer data) {
                     auto* d = static_cast<Desktop*>(data);
                     CreateWindow(d);
                     std::vector<std::string> urls;
                     for (int i = 0; i < count; ++i) {
                       char* uri = g_file_get_uri(files[i]);
                       urls.emplace_back(uri);
                       g_free(uri);
                     }
                     d->controller->openURLs(urls);
                   }),
                   &desktop);

  // GApplication sees only the program name and the URLs to open; our own flags stay ours.
  std::vector<std::string> forwarded{"tidewick"};
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--test-support-dir") {
      ++i;
      continue;
    }
    if (!StartsWith(arguments[i], "--")) forwarded.push_back(arguments[i]);
  }
  std::vector<char*> argv;
  for (auto& argument : forwarded) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int status = g_application_run(G_APPLICATION(desktop.application), static_cast<int>(forwarded.size()), argv.data());
  if (desktop.controller) desktop.controller->applicationWillTerminate();
  queues::SetMainDriver(nullptr);
  g_object_unref(desktop.application);
  return status;
}

}  // namespace tw::shell
