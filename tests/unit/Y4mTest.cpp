// The video stream's frames: limited-range BT.601 at 4:2:0, chroma averaged over 2x2 blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hosts/render/Y4m.h"

using namespace nimbrel::host;

namespace {

void put(graphics::Canvas& c, int x, int y, uint32_t argb) {
  std::memcpy(c.data() + y * c.stride() + x * 4, &argb, 4);
}

TEST(Y4m, HeaderPlanesAndKnownPixelsAtAnOddSize) {
  EXPECT_EQ(y4mHeader(64, 48, 18), "YUV4MPEG2 W64 H48 F18:1 Ip A1:1 C420jpeg\n");
  EXPECT_EQ(y4mFrameBytes(64, 48), 64u * 48 + 2 * 32 * 24);
  // Odd sides keep their last column and row in the chroma planes.
  EXPECT_EQ(y4mFrameBytes(3, 3), 9u + 2 * 2 * 2);

  auto canvas = graphics::Canvas::create(3, 3);
  ASSERT_TRUE(canvas);
  canvas->clearToBlack(0, 0, 3, 3);
  put(*canvas, 0, 0, 0xffff0000u);  // red
  put(*canvas, 2, 2, 0xffffffffu);  // white, alone in its corner block
  std::vector<char> planes;
  y4mPlanes(*canvas, planes);
  ASSERT_EQ(planes.size(), 17u);
  auto at = [&](size_t i) { return static_cast<int>(static_cast<uint8_t>(planes[i])); };
  // Luma: red, black, white.
  EXPECT_EQ(at(0), 81);
  EXPECT_EQ(at(1), 16);
  EXPECT_EQ(at(8), 235);
  // U then V, 2x2 each: a quarter of red; black; black; white (a block of one pixel).
  const size_t u = 9, v = 13;
  EXPECT_EQ(at(u + 0), 119);
  EXPECT_EQ(at(v + 0), 156);
  EXPECT_EQ(at(u + 1), 128);
  EXPECT_EQ(at(v + 2), 128);
  EXPECT_EQ(at(u + 3), 128);
  EXPECT_EQ(at(v + 3), 128);
}

}  // namespace
