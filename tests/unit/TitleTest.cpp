#include <algorithm>
#include <cstdio>
#include <vector>

#include "tests/unit/TestSupport.h"

using graphics::Color;
using graphics::DrawCall;
using Op = DrawCall::Op;

namespace {

// "text size x,y white" for each text drawn; the recorder measures each character as half the
// point size: "Nimbrel" is 112 units wide at 32 points and 49 at 14.
std::vector<std::string> texts(const std::vector<DrawCall>& calls) {
  std::vector<std::string> out;
  for (const DrawCall& c : calls) {
    char line[96];
    std::snprintf(line, sizeof line, "%s %g %g,%g %s", c.text.c_str(), c.font.pointSize, c.at.x,
                  c.at.y, c.color == Color::whiteColor() ? "white" : "black");
    out.push_back(c.op == Op::text ? line : "not text");
  }
  return out;
}

bool drawsText(const std::vector<DrawCall>& calls) {
  return std::any_of(calls.begin(), calls.end(), [](auto& c) { return c.op == Op::text; });
}

// Centred across the rectangle, a quarter of its height up: full screen, a black shadow 2 units
// right and down, then the large white title, once. A preview shows no title, though its text
// would be small and white.
TEST(Title, ShadowThenTextCentredOnce) {
  ViewRig rig(false, 5000);
  EXPECT_EQ(texts(rig.frame(5000)),
            (std::vector<std::string>{"Nimbrel 32 446,198 black", "Nimbrel 32 444,200 white"}));
  EXPECT_EQ(rig.view->splashDrawn, 1);
  ViewRig preview(true);
  EXPECT_FALSE(drawsText(preview.frame(1000)));
  EXPECT_EQ(preview.view->splashDrawn, 0);
  preview.recorder->clear();
  preview.view->centerStrInRect("Nimbrel", {100.0f, 40.0f, 600.0f, 400.0f});
  EXPECT_EQ(texts(preview.recorder->calls()),
            std::vector<std::string>{"Nimbrel 14 375.5,140 white"});
}

// The oscillators' angles: they change exactly when an oscillator steps.
std::vector<float> angles(NimbrelView& v) {
  std::vector<float> out;
  for (int i = 0; i < 4; ++i) {
    for (auto* o : {&v.org[i].strokeAlpha, &v.org[i].rOsc, &v.org[i].angle1, &v.org[i].dotRadius}) {
      out.push_back((*o)->fAngle);
    }
  }
  return out;
}

// After the title, nothing is drawn, stepped or drawn at random until the deadline, while the
// hue phase still toggles; the deadline frame is an ordinary one.
TEST(Title, RestOfThePhaseDrawsNothingAndTheDeadlineFrameIsOrdinary) {
  ViewRig rig(false, 5000);
  rig.view->drawStars = 1;
  const std::vector<float> before = angles(*rig.view);
  rig.frame(5000);
  for (uint32_t t = 5001; t < 5090; t += 3) {
    EXPECT_TRUE(rig.frame(t).empty()) << t;
    EXPECT_EQ(rig.view->huePhase, (t - 5001) / 3 % 2 == 0 ? 0 : 1);
  }
  EXPECT_EQ(angles(*rig.view), before);
  EXPECT_EQ(rig.random.draws(), 60);
  const std::vector<DrawCall> calls = rig.frame(5090);
  EXPECT_FALSE(calls.empty());
  EXPECT_FALSE(drawsText(calls));
  EXPECT_NE(angles(*rig.view), before);
}

TEST(Title, NoRandomisationDuringThePhase) {
  ViewRig rig(
      false, 1000,
      storeText(
          {{"randomizeInterval", "1"}, {"drawStars", "false"}, {"randomizeSettings", "false"}}));
  ASSERT_EQ(rig.view->nextRandomizeTime, 1060u);
  for (uint32_t t = 1000; t < 1090; t += 5) rig.frame(t);
  EXPECT_EQ(rig.random.draws(), 60);
  rig.frame(1090);  // overdue since 1061: runs now, and the lost time is not made up
  EXPECT_EQ(rig.random.draws(), 60 + 16);
  EXPECT_EQ(rig.view->nextRandomizeTime, 1150u);
}

// Created at 4294967250: the title deadline stops at 4294967295 and the randomisation deadline
// wraps to 434. Neither may hold for the 2^32 ticks a plain unsigned comparison would give.
TEST(Title, AcrossTheWrapOfTheTickCounter) {
  ViewRig rig(false, 4294967250u,
              storeText({{"randomizeSettings", "true"}, {"randomizeInterval", "8"}}));
  const int16_t petals = rig.view->petalCount;
  EXPECT_EQ(rig.frame(4294967250u).size(), 2u);  // the title
  EXPECT_TRUE(rig.frame(4294967294u).empty());
  EXPECT_FALSE(rig.frame(4294967295u).empty());  // the deadline frame draws
  EXPECT_FALSE(rig.frame(3).empty());            // and so do frames after the wrap
  EXPECT_EQ(rig.view->petalCount, petals);       // no randomisation before 434
  EXPECT_EQ(rig.view->nextRandomizeTime, 434u);
  rig.frame(434);
  EXPECT_EQ(rig.view->petalCount, petals);
  rig.frame(435);
  EXPECT_NE(rig.view->petalCount, petals);
  EXPECT_EQ(rig.view->nextRandomizeTime, 435u + 480u);
  rig.frame(436);
  EXPECT_EQ(rig.view->nextRandomizeTime, 435u + 480u);
}

// Once the deadline has passed no frame shows the title: a late first frame, a first frame just
// after the wrap, and frames whose deadline lies more than 2^31 ticks (about 414 days) behind.
TEST(Title, PastTheDeadlineNeverTheTitle) {
  for (auto [created, frames] :
       {std::pair{5000u, std::vector<uint32_t>{5090, 5091, 5200}},
        {4294967260u, {20}},
        {5000u, {5000, 5090, 5090u + 0x7fffffffu, 5090u + 0x80000010u, 5000u + 0xfffffff0u}}}) {
    ViewRig rig(false, created);
    for (uint32_t t : frames) {
      rig.view->nextRandomizeTime = t + 1000;  // keeps the randomisation out of the way
      const std::vector<DrawCall> calls = rig.frame(t);
      EXPECT_EQ(drawsText(calls), t == created) << created << ", frame " << t;
      EXPECT_FALSE(calls.empty()) << created << ", frame " << t;
    }
  }
}

}  // namespace
