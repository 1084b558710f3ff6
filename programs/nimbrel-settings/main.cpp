// nimbrel-settings: the settings window, a live preview of the saver with its options sheet.
#include <memory>

#include "hosts/core/ResourceLookup.h"
#include "hosts/core/StandardOutput.h"
#include "programs/nimbrel-settings/SettingsApplication.h"
#include "services/Translate.h"
#include "sources/NimbrelView.h"

int main(int argc, char** argv) {
  // GTK takes the whole locale anyway; our catalogues are found beside the program.
  services::initTranslations(nimbrel::host::localeDirectory(), services::LocaleUse::whole);
  nimbrel::host::checkStandardOutputAtExit("nimbrel-settings");
  nimbrel::settings::SettingsApplication application(
      [](const graphics::Rect& frame, bool isPreview,
         const services::ViewOptions& options) -> std::unique_ptr<services::ScreenSaverView> {
        return nimbrel::NimbrelView::initWithFrame(frame, isPreview, options);
      });
  return application.run(argc, argv);
}
