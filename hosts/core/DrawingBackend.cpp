#include "hosts/core/DrawingBackend.h"

#include <cstdlib>
#include <string_view>

services::ViewOptions::Backend backendNamed(const char* value) {
  return value && std::string_view(value) == "cairo" ? services::ViewOptions::Backend::cairo
                                                     : services::ViewOptions::Backend::fast;
}

services::ViewOptions::Backend chosenBackend() {
  static const services::ViewOptions::Backend backend =
      backendNamed(std::getenv("NIMBREL_BACKEND"));
  return backend;
}

services::ViewOptions hostViewOptions(float backingScaleFactor) {
  services::ViewOptions options;
  options.backingScaleFactor = backingScaleFactor;
  options.backend = chosenBackend();
  return options;
}
