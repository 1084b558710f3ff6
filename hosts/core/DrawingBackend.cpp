#include "hosts/core/DrawingBackend.h"

#include <cstdlib>
#include <string_view>

#include "graphics/CairoGraphics.h"
#include "raster/FastGraphics.h"

namespace nimbrel::host {

Backend backendNamed(const char* value) {
  return value && std::string_view(value) == "cairo" ? Backend::cairo : Backend::fast;
}

Backend chosenBackend() {
  static const Backend backend = backendNamed(std::getenv("NIMBREL_BACKEND"));
  return backend;
}

services::ViewOptions viewOptions(float backingScaleFactor, Backend backend, int threads) {
  services::ViewOptions options;
  options.backingScaleFactor = backingScaleFactor;
  if (backend == Backend::fast) {
    options.makeGraphics = [threads](graphics::Canvas& canvas, float scale) {
      return raster::makeFastGraphics(canvas, scale, threads);
    };
  } else {
    options.makeGraphics = [](graphics::Canvas& canvas, float scale) {
      return graphics::makeCairoGraphics(canvas, scale);
    };
  }
  return options;
}

services::ViewOptions hostViewOptions(float backingScaleFactor, int threads) {
  return viewOptions(backingScaleFactor, chosenBackend(), threads);
}

}  // namespace nimbrel::host
