#include <vector>

#include "sources/NimbrelView.h"
#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

using Op = graphics::DrawCall::Op;

// The recorder measures each character as half the point size: "Nimbrel" is 112 units wide at
// 32 points and 49 at 14.
TEST(Title, FullScreenDrawsShadowThenTextOnce) {
  ViewRig rig(false, 5000);
  const std::vector<graphics::DrawCall> calls = rig.frame(5000);
  ASSERT_EQ(calls.size(), 2u);
  const graphics::DrawCall& shadow = calls[0];
  const graphics::DrawCall& text = calls[1];
  EXPECT_EQ(shadow.op, Op::text);
  EXPECT_EQ(text.op, Op::text);
  EXPECT_EQ(text.text, rig.view->splashMessage);
  EXPECT_EQ(shadow.text, rig.view->splashMessage);
  EXPECT_EQ(shadow.color, Color::blackColor());
  EXPECT_EQ(text.color, Color::whiteColor());
  EXPECT_EQ(shadow.font.pointSize, 32.0f);
  EXPECT_EQ(text.font.pointSize, 32.0f);
  const float tw = static_cast<float>(rig.view->splashMessage.size()) * 16.0f;
  EXPECT_EQ(text.at.x, 500.0f - tw * 0.5f);
  EXPECT_EQ(text.at.y, 200.0f);
  EXPECT_EQ(shadow.at.x, text.at.x + 2.0f);
  EXPECT_EQ(shadow.at.y, 198.0f);
  EXPECT_EQ(rig.view->splashDrawn, 1);
}

TEST(Title, PreviewBranchDrawsSmallWhiteTextOnce) {
  ViewRig rig(true);
  rig.view->centerStrInRect("Nimbrel", {100.0f, 40.0f, 600.0f, 400.0f});
  const std::vector<graphics::DrawCall>& calls = rig.recorder->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].color, Color::whiteColor());
  EXPECT_EQ(calls[0].font.pointSize, 14.0f);
  EXPECT_EQ(calls[0].at.x, 100.0f + 300.0f - 24.5f);
  EXPECT_EQ(calls[0].at.y, 140.0f);
}

TEST(Title, PreviewNeverShowsTheTitle) {
  ViewRig rig(true, 5000);
  for (uint32_t t = 5000; t < 5010; ++t) {
    for (const graphics::DrawCall& c : rig.frame(t)) EXPECT_NE(c.op, Op::text);
  }
  EXPECT_EQ(rig.view->splashDrawn, 0);
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

TEST(Title, RestOfThePhaseDrawsNothingAndTheDeadlineFrameIsOrdinary) {
  ViewRig rig(false, 5000);
  rig.view->drawStars = 1;
  const std::vector<float> before = angles(*rig.view);
  rig.frame(5000);
  for (uint32_t t = 5001; t < 5090; t += 3) {
    EXPECT_TRUE(rig.frame(t).empty()) << t;
    EXPECT_EQ(rig.view->huePhase, (t - 5001) / 3 % 2 == 0 ? 0 : 1);  // still toggles
  }
  EXPECT_EQ(angles(*rig.view), before);
  EXPECT_EQ(rig.random.draws(), 60);
  const std::vector<graphics::DrawCall> calls = rig.frame(5090);
  EXPECT_FALSE(calls.empty());
  for (const graphics::DrawCall& c : calls) EXPECT_NE(c.op, Op::text);
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

// Once the title's deadline has passed, every frame draws the organisms and none the title:
// a late first frame, a first frame just after the wrap of the tick counter, and frames whose
// deadline lies more than 2^31 ticks (about 414 days) behind.
TEST(Title, PastTheDeadlineNeverTheTitle) {
  struct Case {
    uint32_t created;
    std::vector<uint32_t> frames;
  };
  const Case cases[] = {
      {5000, {5090, 5091, 5200}},
      {4294967260u, {20}},
      {5000, {5000, 5090, 5090u + 0x7fffffffu, 5090u + 0x80000010u, 5000u + 0xfffffff0u}},
  };
  for (const Case& c : cases) {
    ViewRig rig(false, c.created);
    for (uint32_t t : c.frames) {
      SCOPED_TRACE(testing::Message() << "created " << c.created << ", frame " << t);
      rig.view->nextRandomizeTime = t + 1000;  // keeps the randomisation out of the way
      const std::vector<graphics::DrawCall> calls = rig.frame(t);
      if (t == c.created) {
        EXPECT_EQ(calls.size(), 2u);  // the title
        continue;
      }
      EXPECT_FALSE(calls.empty());
      for (const graphics::DrawCall& call : calls) EXPECT_NE(call.op, Op::text);
    }
    EXPECT_EQ(rig.view->splashDrawn, c.frames.front() == c.created ? 1 : 0);
  }
}

}  // namespace
