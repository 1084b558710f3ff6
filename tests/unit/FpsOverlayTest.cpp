// -fps: the frame rate drawn over a view while it is presented, never into its picture.
#include <cstring>
#include <string>
#include <vector>

#include "hosts/core/ViewDriver.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::host;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

constexpr Nanos kSecond = 1'000'000'000;

std::vector<uint8_t> bytesOf(const Canvas& c) {
  return {c.data(), c.data() + static_cast<size_t>(c.stride()) * c.pixelHeight()};
}

TEST(FpsOverlay, RateOverTheLastSecond) {
  FpsOverlay fps;
  EXPECT_FALSE(fps.count(0, 5 * kSecond));
  EXPECT_FALSE(fps.count(17, 5 * kSecond + kSecond - 1));
  EXPECT_TRUE(fps.text().empty());
  EXPECT_TRUE(fps.count(30, 5 * kSecond + kSecond + kSecond / 2));
  EXPECT_EQ(fps.text(), "FPS: 20.0");
  // The same rate again is no change; a new one is.
  EXPECT_FALSE(fps.count(60, 8 * kSecond));
  EXPECT_TRUE(fps.count(78, 9 * kSecond));
  EXPECT_EQ(fps.text(), "FPS: 18.0");
}

TEST(FpsOverlay, ShownInTheLowerLeftCornerAndTakenOffTheCanvasAgain) {
  TempConfigHome home;
  ScriptedClock clock(5000);
  std::unique_ptr<ViewDriver> slot =
      ViewDriver::create(nimbrelView, {{300.0f, 200.0f}, 2.0f, true});
  ASSERT_TRUE(slot);
  slot->showFrameRate();
  Canvas& canvas = slot->view().canvas();
  std::vector<graphics::PixelRect> shown;
  std::vector<std::vector<uint8_t>> onScreen;
  auto show = [&](const std::vector<graphics::PixelRect>& rects) {
    shown.insert(shown.end(), rects.begin(), rects.end());
    onScreen.push_back(bytesOf(canvas));
  };
  // Nothing changed and no text yet: nothing to show.
  slot->present({}, 0, show);
  EXPECT_TRUE(shown.empty());

  for (int i = 0; i < 24; ++i) slot->runIfDue(slot->due());
  // A picture of stripes, so that putting back the wrong pixels shows.
  for (int row = 0; row < canvas.pixelHeight(); ++row) {
    for (int col = 0; col < canvas.stride() / 4; ++col) {
      const uint32_t p = 0xff000000u | static_cast<uint32_t>((row * 7 + col * 13) & 0xffffff);
      std::memcpy(canvas.data() + row * canvas.stride() + col * 4, &p, 4);
    }
  }
  const std::vector<uint8_t> picture = bytesOf(canvas);

  slot->present({}, 2 * kSecond, show);
  ASSERT_EQ(shown.size(), 1u);
  const graphics::PixelRect box = shown[0];
  EXPECT_LT(box.x, 40);
  EXPECT_GT(box.y + box.height, 360);
  EXPECT_LE(box.y + box.height, 400);
  EXPECT_LT(box.width, 600);
  // While shown, the text is on the canvas inside the box and nowhere else.
  size_t changed = 0, outside = 0;
  for (size_t i = 0; i < picture.size(); i += 4) {
    if (std::memcmp(&picture[i], &onScreen[0][i], 4) == 0) continue;
    ++changed;
    const int row = static_cast<int>(i / canvas.stride());
    const int col = static_cast<int>(i % canvas.stride()) / 4;
    if (col < box.x || col >= box.x + box.width || row < box.y || row >= box.y + box.height) {
      ++outside;
    }
  }
  EXPECT_GT(changed, 100u);
  EXPECT_EQ(outside, 0u);
  EXPECT_EQ(bytesOf(canvas), picture);

  // With a frame's damage both are shown, and the picture comes back whole again.
  shown.clear();
  slot->present({{100, 100, 10, 10}}, 2 * kSecond + 1, show);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].x, box.x);
  EXPECT_EQ(bytesOf(canvas), picture);
}

}  // namespace
