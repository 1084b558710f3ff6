#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "programs/nimbrel-settings/SettingsWindow.h"

namespace nimbrel::settings {

// nimbrel-settings as a GtkApplication: one instance per session (a second start presents the
// first one's window and ends), --help and --version from GApplication's option handling. Its
// actions: "app.about" shows the About window, "app.quit" (Ctrl+Q) ends it; Ctrl+W closes the
// window.
class SettingsApplication {
 public:
  static constexpr char kId[] = "org.nimbrel.Nimbrel.Settings";

  // The preview and the options show the views that makeView makes.
  explicit SettingsApplication(services::ViewFactory makeView);
  ~SettingsApplication();
  SettingsApplication(const SettingsApplication&) = delete;
  SettingsApplication& operator=(const SettingsApplication&) = delete;

  // The exit status.
  int run(int argc, char** argv);

 private:
  static gint handleLocalOptions(GApplication*, GVariantDict* options, gpointer data);
  static void activate(GApplication*, gpointer data);
  static void shutdown(GApplication*, gpointer data);
  static void about(GSimpleAction*, GVariant*, gpointer data);
  static void quit(GSimpleAction*, GVariant*, gpointer data);

  services::ViewFactory makeView_;
  GtkApplication* application_ = nullptr;
  std::unique_ptr<SettingsWindow> window_;
  int status_ = 0;
};

}  // namespace nimbrel::settings
