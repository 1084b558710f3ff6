#pragma once

#include <cstdint>

namespace raster {

// How a shape is blended: the colour and whether it takes the opaque path.
struct Paint {
  uint32_t pixel = 0;  // premultiplied ARGB32
  bool opaque = false;
};

}  // namespace raster
