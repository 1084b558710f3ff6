#include "programs/nimbrel-settings/SettingsApplication.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "programs/nimbrel-settings/WindowClass.h"
#include "services/Random.h"
#include "services/Translate.h"

namespace nimbrel::settings {

SettingsApplication::SettingsApplication(services::ViewFactory makeView)
    : makeView_(std::move(makeView)) {
  // The instance part of WM_CLASS, whatever the name the program was started by.
  g_set_prgname("nimbrel-settings");
  application_ = gtk_application_new(kId, G_APPLICATION_DEFAULT_FLAGS);
  static const GOptionEntry kOptions[] = {
      {"version", 'v', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, nullptr,
       services::tr("Print the version and exit"), nullptr},
      {}};
  g_application_add_main_option_entries(G_APPLICATION(application_), kOptions);
  g_application_set_option_context_summary(
      G_APPLICATION(application_),
      services::tr("Shows a live preview of the Nimbrel screen saver and its options. A second "
                   "start\npresents the window of the first."));
  g_signal_connect(application_, "handle-local-options", G_CALLBACK(handleLocalOptions), this);
  g_signal_connect(application_, "activate", G_CALLBACK(activate), this);
  g_signal_connect(application_, "shutdown", G_CALLBACK(shutdown), this);
  static const GActionEntry kActions[] = {{"about", about, nullptr, nullptr, nullptr, {}},
                                          {"quit", quit, nullptr, nullptr, nullptr, {}}};
  g_action_map_add_action_entries(G_ACTION_MAP(application_), kActions, G_N_ELEMENTS(kActions),
                                  this);
  static const char* const kQuitKeys[] = {"<Control>q", nullptr};
  static const char* const kCloseKeys[] = {"<Control>w", nullptr};
  gtk_application_set_accels_for_action(application_, "app.quit", kQuitKeys);
  gtk_application_set_accels_for_action(application_, "window.close", kCloseKeys);
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
    std::fprintf(stderr, "nimbrel-settings: %s\n", services::tr("cannot open a display"));
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

void SettingsApplication::about(GSimpleAction*, GVariant*, gpointer data) {
  auto* self = static_cast<SettingsApplication*>(data);
  GtkWindow* parent = self->window_ ? self->window_->window() : nullptr;
  // The package's own licence, none of the usual ones; the homepage's address as its link's
  // text, which a screen reader reads (GTK gives it no other way to the address).
  constexpr char kHomepage[] = "https://nimbrel.org/";
  gtk_show_about_dialog(
      parent, "program-name", services::tr("Nimbrel Settings"), "version", NIMBREL_VERSION,
      "comments", services::tr("Rings of translucent petals, built up layer upon layer."),
      "logo-icon-name", kId, "website", kHomepage, "website-label", kHomepage, "license-type",
      GTK_LICENSE_CUSTOM, "license",
      services::tr("No licence has been granted yet: the copyright holders reserve all rights."),
      "modal", TRUE, nullptr);
}

// As closing the window: a sheet still open stores nothing.
void SettingsApplication::quit(GSimpleAction*, GVariant*, gpointer data) {
  g_application_quit(G_APPLICATION(static_cast<SettingsApplication*>(data)->application_));
}

}  // namespace nimbrel::settings
