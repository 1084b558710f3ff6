#pragma once

// YUV4MPEG2 frames of a canvas: BT.601 limited range, 4:2:0 with the chroma of each 2x2 block
// averaged and sited at the block's centre (C420jpeg), what every encoder and player takes.

#include <string>
#include <vector>

#include "graphics/Canvas.h"

namespace nimbrel::host {

// The stream header for frames of that size (device pixels) at that rate.
std::string y4mHeader(int width, int height, long framesPerSecond);

// Bytes of one frame's planes: Y at full size, U and V at half size each way, rounded up, so an
// odd width or height keeps its last column or row (averaged over the pixels it has).
size_t y4mFrameBytes(int width, int height);

// The canvas's planes, Y then U then V, into planes (the caller's buffer, reused).
void y4mPlanes(const graphics::Canvas& canvas, std::vector<char>& planes);

}  // namespace nimbrel::host
