#include "programs/nimbrel-settings/SettingsWindow.h"

#include <unistd.h>

#include <cstdio>

#include "hosts/core/ResourceLookup.h"
#include "programs/nimbrel-settings/UiFile.h"
#include "services/Translate.h"

namespace nimbrel::settings {

namespace {

constexpr char kWindowFile[] = "SettingsWindow.ui";

// The saver: beside this program (installed), in the build tree's saver folder, or on PATH.
std::string saverPath() {
  return host::companionProgram("nimbrel", "nimbrel", host::executablePath());
}

// Kept beyond the builder: the window holds its widgets, this holds the window.
template <typename T>
T* keep(T* object) {
  return object ? static_cast<T*>(g_object_ref(object)) : nullptr;
}

void drop(gpointer object) {
  if (object) g_object_unref(object);
}

}  // namespace

std::unique_ptr<SettingsWindow> SettingsWindow::build(GtkApplication* application,
                                                      services::ViewFactory makeView,
                                                      std::string& whyNot) {
  UiFile ui(kWindowFile);
  GtkWindow* window = ui.get<GtkWindow>("settingsWindow", GTK_TYPE_WINDOW);
  if (!window) {
    whyNot = ui.problems().empty()
                 ? services::formatted(services::tr("%s: no window"), ui.file().c_str())
                 : ui.problems().front();
    return nullptr;
  }
  std::unique_ptr<SettingsWindow> self(new SettingsWindow);
  self->window_ = keep(window);
  self->preview_ = keep(ui.get<GtkDrawingArea>("preview", GTK_TYPE_DRAWING_AREA));
  self->problemText_ = keep(ui.get<GtkLabel>("problemText", GTK_TYPE_LABEL));
  self->problem_ = keep(ui.get<GtkWidget>("problem", GTK_TYPE_WIDGET));
  self->tryButton_ = keep(ui.get<GtkWidget>("tryButton", GTK_TYPE_BUTTON));
  self->optionsButton_ = keep(ui.get<GtkWidget>("optionsButton", GTK_TYPE_BUTTON));
  for (const std::string& problem : ui.problems()) {
    std::fprintf(stderr, "nimbrel-settings: %s\n", problem.c_str());
    self->fileProblems_ += (self->fileProblems_.empty() ? "" : "\n") + problem + ".";
  }

  // Not the problem text, which is selectable and would show all selected.
  if (GtkWidget* first = self->optionsButton_ ? self->optionsButton_ : self->tryButton_) {
    gtk_window_set_focus(window, first);
  }
  gtk_window_set_application(window, application);
  self->connect();
  self->showProblems({});
  if (self->preview_) {
    self->pane_ = std::make_unique<host::PreviewPane>(self->preview_, std::move(makeView));
  }
  return self;
}

SettingsWindow::~SettingsWindow() {
  // The view's sheets go with the toolkit; the view must go first, while it can still tell it.
  pane_.reset();
  sheet::setSheetToolkit(nullptr);
  for (gpointer object : {gpointer(preview_), gpointer(problemText_), gpointer(problem_),
                          gpointer(tryButton_), gpointer(optionsButton_)}) {
    drop(object);
  }
  if (!destroyed_) gtk_window_destroy(window_);
  drop(window_);
}

void SettingsWindow::connect() {
  toolkit_.setResourceDirectories(host::resourceDirectories());
  sheet::setSheetToolkit(&toolkit_);
  toolkit_.setSheetEndedHandler(
      [this](sheet::SheetWindow*, sheet::SheetOutcome outcome) { sheetEnded(outcome); });
  // Closed: no more frames for widgets that are gone, and the view's sheets go with it.
  g_signal_connect_swapped(window_, "destroy", G_CALLBACK(+[](SettingsWindow* self) {
                             self->destroyed_ = true;
                             if (self->pane_) self->pane_->stop();
                           }),
                           this);
  if (tryButton_) {
    g_signal_connect_swapped(tryButton_, "clicked",
                             G_CALLBACK(+[](SettingsWindow* self) { self->tryFullScreen(); }),
                             this);
  }
  if (optionsButton_) {
    g_signal_connect_swapped(optionsButton_, "clicked",
                             G_CALLBACK(+[](SettingsWindow* self) { self->openOptions(); }), this);
  }
}

void SettingsWindow::openOptions() {
  services::ScreenSaverView* view = pane_ ? pane_->view() : nullptr;
  if (!view || !view->hasConfigureSheet()) return;
  GtkWindow* sheet = sheet::GtkSheetToolkit::gtkWindow(view->configureSheet());
  if (!sheet) {
    gchar* text = g_strdup_printf(services::tr("The options cannot be shown: %s."),
                                  view->sheetProblem().c_str());
    const std::string why = text;
    g_free(text);
    std::fprintf(stderr, "nimbrel-settings: %s\n", why.c_str());
    showProblems(why);
    return;
  }
  showProblems({});
  gtk_window_set_transient_for(sheet, window_);
  gtk_window_set_modal(sheet, true);
  gtk_window_present(sheet);
}

// A confirmation stored the sheet: a new view takes it all, the speed included. A dismissed
// sheet stored nothing; the view keeps what it shows, a previewed theme included.
void SettingsWindow::sheetEnded(sheet::SheetOutcome outcome) {
  if (outcome == sheet::SheetOutcome::confirmed && pane_) pane_->renew();
}

void SettingsWindow::tryFullScreen() {
  const std::string saver = saverPath();
  char* argv[] = {const_cast<char*>(saver.c_str()), nullptr};
  GError* error = nullptr;
  if (!g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                     &error)) {
    std::fprintf(
        stderr, "nimbrel-settings: %s\n",
        services::formatted(services::tr("cannot start %s: %s"), saver.c_str(), error->message)
            .c_str());
    g_error_free(error);
  }
}

void SettingsWindow::showProblems(const std::string& more) {
  std::string text = fileProblems_;
  if (!more.empty()) text += (text.empty() ? "" : "\n") + more;
  if (problemText_) gtk_label_set_text(problemText_, text.c_str());
  GtkWidget* shown = problem_ ? problem_ : GTK_WIDGET(problemText_);
  if (shown && problemText_) gtk_widget_set_visible(shown, !text.empty());
}

}  // namespace nimbrel::settings
