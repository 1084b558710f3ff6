// nimbrel-settings: the settings window, a live preview of the saver with its options sheet.
#include "programs/nimbrel-settings/SettingsApplication.h"

int main(int argc, char** argv) {
  SettingsApplication application;
  return application.run(argc, argv);
}
