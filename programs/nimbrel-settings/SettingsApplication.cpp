#include "programs/nimbrel-settings/SettingsApplication.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "programs/nimbrel-settings/WindowClass.h"
#include "services/Random.h"

namespace nimbrel::settings {

SettingsApplication::SettingsApplication(services::ViewFactory makeView)
    : makeView_(std::move(makeView)) {
  // The instance part of WM_CLASS, whatever the name the program was started by.
  g_set_prgname("nimbrel-settings");
  application_ = gtk_application_new(kId, G_APPLICATION_DEFAULT_FLAGS);
  static const GOptionEntry kOptions[] = {{"version", 'v', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE,
                                           nullptr, "Print the version and exit", nullptr},
                                          {}};
  g_application_add_main_option_entries(G_APPLICATION(application_), kOptions);
  g_application_set_option_context_summary(
      G_APPLICATION(application_),
      "Shows a live preview of the Nimbrel screen saver and its options. A second start\n"
      "presents the window of the first.");
  g_signal_connect(application_, "handle-local-options", G_CALLBACK(handleLocalOptions), this);
  g_signal_connect(application_, "activate", G_CALLBACK(activate), this);
  g_signal_connect(application_, "shutdown", G_CALLBACK(shutdown), this);
}

SettingsApplication::~SettingsApplication() {
  window_.reset();
  g_object_unref(application_);
}

int SettingsApplication::run(int argc, char** argv) {
  const int status = g_application_run(G_APPLICATION(application_), argc, argv);
  return status != 0 ? status : status_;
}

// Runs in every started process, before it becomes or calls the running instance.
gint SettingsApplication::handleLocalOptions(GApplication*, GVariantDict* options, gpointer) {
  if (g_variant_dict_contains(options, "version")) {
    std::printf("nimbrel-settings %s\n", NIMBREL_VERSION);
    return EXIT_SUCCESS;
  }
  if (!gtk_init_check()) {
    std::fprintf(stderr, "nimbrel-settings: cannot open a display\n");
    return EXIT_FAILURE;
  }
  // The application id names the desktop entry: an X11 shell finds the entry of the window.
  setWindowClass(kId);
  return -1;  // go on: register, then activate here or in the running instance
}

// The first start builds the window; every later one (a second start included) presents it.
void SettingsApplication::activate(GApplication* application, gpointer data) {
  auto* self = static_cast<SettingsApplication*>(data);
  if (!self->window_) {
    services::seedRandom(std::nullopt);
    std::string whyNot;
    self->window_ = SettingsWindow::build(GTK_APPLICATION(application), self->makeView_, whyNot);
    if (!self->window_) {
      std::fprintf(stderr, "nimbrel-settings: %s\n", whyNot.c_str());
      self->status_ = EXIT_FAILURE;
      return;  // no window holds the application: it ends
    }
  }
  gtk_window_present(self->window_->window());
}

void SettingsApplication::shutdown(GApplication*, gpointer data) {
  static_cast<SettingsApplication*>(data)->window_.reset();
}

}  // namespace nimbrel::settings
