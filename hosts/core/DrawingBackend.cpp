#include "DrawingBackend.h"

#include <cstdlib>
#include <string_view>

ViewOptions::Backend backendNamed(const char* value) {
  return value && std::string_view(value) == "cairo" ? ViewOptions::Backend::cairo
                                                     : ViewOptions::Backend::fast;
}

ViewOptions::Backend chosenBackend() {
  static const ViewOptions::Backend backend = backendNamed(std::getenv("NIMBREL_BACKEND"));
  return backend;
}

ViewOptions hostViewOptions(float backingScaleFactor) {
  ViewOptions options;
  options.backingScaleFactor = backingScaleFactor;
  options.backend = chosenBackend();
  return options;
}
