#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "hosts/preview/PreviewPane.h"
#include "services/ScreenSaverView.h"
#include "sheet/gtk/GtkSheet.h"

namespace nimbrel::settings {

// The settings window: a live preview of the saver, "Options…" to open the view's sheet on
// this window and "Try Full Screen" to start the saver. Built from SettingsWindow.ui; every
// object that file lacks is reported on standard error and in the window.
class SettingsWindow {
 public:
  // Nothing, with `whyNot` naming the file and the id, when the file has no window to show.
  // The preview shows the views that makeView makes.
  static std::unique_ptr<SettingsWindow> build(GtkApplication* application,
                                               services::ViewFactory makeView, std::string& whyNot);
  ~SettingsWindow();
  SettingsWindow(const SettingsWindow&) = delete;
  SettingsWindow& operator=(const SettingsWindow&) = delete;

  GtkWindow* window() const { return window_; }

 private:
  SettingsWindow() = default;
  void connect();
  void openOptions();
  void sheetEnded(sheet::SheetOutcome outcome);
  void tryFullScreen();
  // The problems of the window's own file, then `more`; hidden when there are none.
  void showProblems(const std::string& more);

  sheet::GtkSheetToolkit toolkit_;
  GtkWindow* window_ = nullptr;
  GtkDrawingArea* preview_ = nullptr;
  GtkWidget* problem_ = nullptr;
  GtkLabel* problemText_ = nullptr;
  GtkWidget* tryButton_ = nullptr;
  GtkWidget* optionsButton_ = nullptr;
  std::string fileProblems_;
  bool destroyed_ = false;
  std::unique_ptr<host::PreviewPane> pane_;
};

}  // namespace nimbrel::settings
