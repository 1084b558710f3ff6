#pragma once

// The one parser of "WxH" size arguments, shared by every program that takes one.

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

#include "graphics/Canvas.h"

namespace nimbrel::host {

// The largest side (points) of a view that any program takes on its command line.
inline constexpr int kMaxViewSide = 16384;

struct SizeArgument {
  int width;
  int height;
};

// "WxH" (or "WXH"): two whole numbers in plain decimal digits, each from 1 to maxSide; nothing
// for anything else. No sign, blank, or other text is taken, and a side too large for any
// integer is refused rather than wrapped: sscanf's %u would read "4294967297" as 1.
inline std::optional<SizeArgument> parseSizeArgument(std::string_view text, int maxSide) {
  auto side = [maxSide](std::string_view digits) -> std::optional<int> {
    // from_chars takes a leading '-' for signed types; an unsigned one refuses it.
    unsigned long long value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || stop != end || error != std::errc() || value < 1 ||
        value > static_cast<unsigned long long>(maxSide)) {
      return std::nullopt;
    }
    return static_cast<int>(value);
  };
  const size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return std::nullopt;
  const std::optional<int> width = side(text.substr(0, x));
  const std::optional<int> height = side(text.substr(x + 1));
  if (!width || !height) return std::nullopt;
  return SizeArgument{*width, *height};
}

// Whether a view of that size (points) at that scale (device pixels per point) gets a canvas:
// each side rounds up to whole device pixels, as the view base makes it.
inline bool fitsCanvas(SizeArgument size, double scale) {
  const double width = std::ceil(size.width * scale);
  const double height = std::ceil(size.height * scale);
  return width <= graphics::Canvas::maxSide && height <= graphics::Canvas::maxSide &&
         width * height <= static_cast<double>(graphics::Canvas::maxPixels);
}

}  // namespace nimbrel::host
