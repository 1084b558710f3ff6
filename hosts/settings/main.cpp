// nimbrel-settings: the settings window. A live preview pane (a preview view driven by its own
// animation interval), "Options…" to open the view's configuration sheet on this window, and a
// button that starts the saver full screen.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include <cairo.h>

#include "DrawingBackend.h"
#include "GtkSheet.h"
#include "NimbrelView.h"
#include "PreferenceStore.h"
#include "ResourceLookup.h"

namespace {

constexpr int kPreviewWidth = 480;   // points
constexpr int kPreviewHeight = 300;  // points

std::string storeContents() {
  std::ifstream in(platform::preferencesPath());
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The saver: beside this program (installed), in the build tree's saver folder, or on PATH.
std::string saverPath() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const auto& candidate :
         {self.parent_path() / "nimbrel", self.parent_path().parent_path() / "saver" / "nimbrel"}) {
      if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
  }
  return "nimbrel";
}

class SettingsWindow {
 public:
  SettingsWindow() {
    toolkit_.setResourceDirectories(resourceDirectories());
    platform::setSheetToolkit(&toolkit_);
    toolkit_.setSheetEndedHandler([this](SheetWindow*) { sheetEnded(); });

    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(window_, "Nimbrel");
    gtk_window_set_resizable(window_, false);
    GtkWidget* header = gtk_header_bar_new();
    gtk_window_set_titlebar(window_, header);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_window_set_child(window_, box);

    area_ = GTK_DRAWING_AREA(gtk_drawing_area_new());
    gtk_drawing_area_set_content_width(area_, kPreviewWidth);
    gtk_drawing_area_set_content_height(area_, kPreviewHeight);
    gtk_drawing_area_set_draw_func(area_, &SettingsWindow::draw, this, nullptr);
    // A canvas in the display's own pixels: a new view when the window moves to another scale.
    g_signal_connect_swapped(area_, "notify::scale-factor",
                             G_CALLBACK(+[](SettingsWindow* self) { self->makePreview(); }), this);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_child(GTK_FRAME(frame), GTK_WIDGET(area_));
    gtk_box_append(GTK_BOX(box), frame);

    GtkWidget* caption = gtk_label_new("Rings of translucent petals, built up layer upon layer.");
    gtk_widget_add_css_class(caption, "dim-label");
    gtk_label_set_xalign(GTK_LABEL(caption), 0.0f);
    gtk_box_append(GTK_BOX(box), caption);

    // Why the options could not be opened; hidden until they could not.
    problem_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error-symbolic");
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_widget_add_css_class(icon, "error");
    problemText_ = GTK_LABEL(gtk_label_new(nullptr));
    gtk_widget_set_name(GTK_WIDGET(problemText_), "problemText");
    gtk_widget_add_css_class(GTK_WIDGET(problemText_), "error");
    gtk_label_set_wrap(problemText_, true);
    gtk_label_set_wrap_mode(problemText_, PANGO_WRAP_WORD_CHAR);
    gtk_label_set_xalign(problemText_, 0.0f);
    gtk_label_set_selectable(problemText_, true);
    // Wraps inside the preview's width instead of widening the window.
    gtk_label_set_max_width_chars(problemText_, 1);
    gtk_widget_set_hexpand(GTK_WIDGET(problemText_), true);
    gtk_box_append(GTK_BOX(problem_), icon);
    gtk_box_append(GTK_BOX(problem_), GTK_WIDGET(problemText_));
    gtk_widget_set_visible(problem_, false);
    gtk_box_append(GTK_BOX(box), problem_);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    GtkWidget* tryButton = gtk_button_new_with_label("Try Full Screen");
    GtkWidget* optionsButton = gtk_button_new_with_label("Options…");
    gtk_widget_set_name(tryButton, "tryButton");
    gtk_widget_set_name(optionsButton, "optionsButton");
    g_signal_connect_swapped(tryButton, "clicked",
                             G_CALLBACK(+[](SettingsWindow* self) { self->tryFullScreen(); }),
                             this);
    g_signal_connect_swapped(optionsButton, "clicked",
                             G_CALLBACK(+[](SettingsWindow* self) { self->openOptions(); }), this);
    gtk_box_append(GTK_BOX(buttons), tryButton);
    gtk_box_append(GTK_BOX(buttons), optionsButton);
    gtk_box_append(GTK_BOX(box), buttons);

    g_signal_connect_swapped(window_, "close-request", G_CALLBACK(+[](SettingsWindow* self) {
                               self->running_ = false;
                               return FALSE;
                             }),
                             this);
    makePreview();
    gtk_window_present(window_);
  }

  ~SettingsWindow() {
    if (timer_) g_source_remove(timer_);
    view_.reset();
    platform::setSheetToolkit(nullptr);
  }

  bool running() const { return running_; }

 private:
  // A new preview view: the store as it is now, a black canvas, its own frame rate.
  void makePreview() {
    if (timer_) g_source_remove(timer_);
    timer_ = 0;
    view_.reset();
    const ViewOptions options =
        hostViewOptions(static_cast<float>(gtk_widget_get_scale_factor(GTK_WIDGET(area_))));
    view_ = NimbrelView::initWithFrame(
        {0.0f, 0.0f, static_cast<float>(kPreviewWidth), static_cast<float>(kPreviewHeight)}, true,
        options);
    if (!view_) return;
    view_->drawRect(view_->bounds());
    view_->startAnimation();
    schedule();
  }

  void schedule() {
    const double seconds = view_->animationTimeInterval();
    const auto ms = static_cast<guint>(seconds > 0.0 ? seconds * 1000.0 + 0.5 : 33.0);
    timer_ = g_timeout_add(ms, &SettingsWindow::tick, this);
  }

  static gboolean tick(gpointer data) {
    auto* self = static_cast<SettingsWindow*>(data);
    self->timer_ = 0;
    self->view_->animateOneFrame();
    self->view_->finishFrame();
    gtk_widget_queue_draw(GTK_WIDGET(self->area_));
    self->schedule();  // the interval may have changed with the randomisation
    return G_SOURCE_REMOVE;
  }

  static void draw(GtkDrawingArea*, cairo_t* cr, int, int, gpointer data) {
    auto* self = static_cast<SettingsWindow*>(data);
    if (!self->view_) {
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_paint(cr);
      return;
    }
    Canvas& canvas = self->view_->canvas();
    cairo_surface_flush(canvas.surface());
    const double scale = self->view_->backingScaleFactor();
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    cairo_set_source_surface(cr, canvas.surface(), 0, 0);
    cairo_paint(cr);
  }

  void openOptions() {
    if (!view_ || !view_->hasConfigureSheet()) return;
    storeBefore_ = storeContents();
    GtkWindow* sheet = GtkSheetToolkit::gtkWindow(view_->configureSheet());
    if (!sheet) {
      const std::string why = "The options cannot be shown: " + view_->sheetProblem + ".";
      std::fprintf(stderr, "nimbrel-settings: %s\n", why.c_str());
      gtk_label_set_text(problemText_, why.c_str());
      gtk_widget_set_visible(problem_, true);
      return;
    }
    gtk_widget_set_visible(problem_, false);
    gtk_window_set_transient_for(sheet, window_);
    gtk_window_set_modal(sheet, true);
    gtk_window_present(sheet);
  }

  // A confirmation changed the store: a new view takes it all, the speed included.
  void sheetEnded() {
    if (storeContents() != storeBefore_) makePreview();
  }

  void tryFullScreen() {
    const std::string saver = saverPath();
    char* argv[] = {const_cast<char*>(saver.c_str()), nullptr};
    GError* error = nullptr;
    if (!g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                       &error)) {
      std::fprintf(stderr, "nimbrel-settings: cannot start %s: %s\n", saver.c_str(),
                   error->message);
      g_error_free(error);
    }
  }

  GtkSheetToolkit toolkit_;
  GtkWindow* window_ = nullptr;
  GtkDrawingArea* area_ = nullptr;
  GtkWidget* problem_ = nullptr;
  GtkLabel* problemText_ = nullptr;
  std::unique_ptr<NimbrelView> view_;
  guint timer_ = 0;
  std::string storeBefore_;
  bool running_ = true;
};

}  // namespace

int main(int argc, char**) {
  if (argc > 1) {
    std::fprintf(stderr, "nimbrel-settings: takes no arguments\n");
    return 2;
  }
  if (!gtk_init_check()) {
    std::fprintf(stderr, "nimbrel-settings: cannot open a display\n");
    return 1;
  }
  srandom(std::random_device{}());
  auto settings = std::make_unique<SettingsWindow>();
  while (settings->running()) g_main_context_iteration(nullptr, true);
  settings.reset();
  return 0;
}
