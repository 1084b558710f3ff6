#include "sources/Oscillator.h"

#include <string>
#include <tuple>
#include <vector>

#include "tests/unit/TestSupport.h"

using namespace nimbrel;
using namespace nimbrel::test;
using namespace graphics;
using namespace services;
using namespace sheet;

namespace {

// Checks each value against the worked value as printed (7 or 8 significant digits).
void expectShown(const std::vector<float>& values, const std::vector<std::string>& shown) {
  ASSERT_EQ(values.size(), shown.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(shownAs(values[i], shown[i]), shown[i]);
}

std::vector<float> steps(FloatOscillator& o, float (FloatOscillator::*next)(), int count) {
  std::vector<float> out;
  for (int i = 0; i < count; ++i) out.push_back((o.*next)());
  return out;
}

TEST(RandomFloat, SmallerDrawOverLarger) {
  ScriptedRandom r{100, 400, 400, 100, 7, 7, 0, 0, 0, 5, 65535, 3};
  EXPECT_EQ(RandomFloat(), 0.25f);
  EXPECT_EQ(RandomFloat(), 0.25f);
  EXPECT_EQ(RandomFloat(), 1.0f);  // equal draws
  EXPECT_EQ(RandomFloat(), 1.0f);  // two zero draws
  EXPECT_EQ(RandomFloat(), 0.0f);  // zero against five
  // Only the low 16 bits count: 65535 is the 16-bit -1, the draw 1.
  EXPECT_EQ(RandomFloat(), 1.0f / 3.0f);
  EXPECT_EQ(r.draws(), 12);
}

TEST(RandomPhase, HundredthsOfTheCircle) {
  ScriptedRandom r{367, 99, 0, 100};
  EXPECT_EQ(RandomPhase(), 4.2097344f);
  EXPECT_EQ(RandomPhase(), 6.2203536f);
  EXPECT_EQ(RandomPhase(), 0.0f);
  EXPECT_EQ(RandomPhase(), 0.0f);
  EXPECT_EQ(r.draws(), 4);
}

TEST(FloatOscillator, SineSequences) {
  FloatOscillator o;
  o.setFloatOscWithMin(0.0f, 1.0f, 0.5f, 0.0f);
  expectShown(steps(o, &FloatOscillator::nextValue, 6),
              {"0.7397128", "0.9207355", "0.9987475", "0.9546487", "0.7992361", "0.57056"});
  EXPECT_EQ(o.fAngle, 3.0f);

  FloatOscillator p;
  p.setFloatOscWithMin(10.0f, 20.0f, 0.5f, 0.0f);
  expectShown(steps(p, &FloatOscillator::nextValue, 4),
              {"17.397127", "19.207355", "19.987474", "19.546488"});

  // The sine is taken in double precision: in single precision these give 0.510999084 and
  // 16.0667381.
  for (auto [min, max, step, want] : {std::tuple{0.0f, 1.0f, 0.0220000017f, 0.510999143f},
                                      {10.0f, 20.0f, 0.215000004f, 16.0667362f}}) {
    FloatOscillator q;
    q.setFloatOscWithMin(min, max, step, 0.0f);
    EXPECT_EQ(q.nextValue(), want) << step;
  }
}

TEST(FloatOscillator, RampSequences) {
  FloatOscillator a;
  a.setFloatOscWithMin(0.0f, 1.0f, 0.375f, 0.0f);
  EXPECT_EQ(steps(a, &FloatOscillator::nextRampValue, 10),
            (std::vector<float>{0.375f, 0.75f, 0.125f, 0.5f, 0.875f, 0.25f, 0.625f, 1.0f, 0.375f,
                                0.75f}));

  FloatOscillator b;
  b.setFloatOscWithMin(0.5f, 1.0f, 0.25f, 0.0f);
  EXPECT_EQ(steps(b, &FloatOscillator::nextRampValue, 7),
            (std::vector<float>{0.25f, 0.5f, 0.75f, 1.0f, 0.75f, 1.0f, 0.75f}));

  FloatOscillator c;
  c.setFloatOscWithMin(0.0f, 1.0f, -0.25f, 0.0f);
  c.fValue = 0.5f;
  EXPECT_EQ(steps(c, &FloatOscillator::nextRampValue, 7),
            (std::vector<float>{0.25f, 0.0f, 0.75f, 0.5f, 0.25f, 0.0f, 0.75f}));
  EXPECT_EQ(c.fAngle, -1.75f);
}

TEST(FloatOscillator, TriangleSequences) {
  FloatOscillator a;
  a.setFloatOscWithMin(0.0f, 1.0f, 0.375f, 0.0f);
  std::vector<float> angles;
  std::vector<float> values;
  for (int i = 0; i < 10; ++i) {
    values.push_back(a.nextTriangleValue());
    angles.push_back(a.fAngle);
  }
  EXPECT_EQ(values, (std::vector<float>{0.375f, 0.75f, 1.0f, 0.625f, 0.25f, 0.0f, 0.375f, 0.75f,
                                        1.0f, 0.625f}));
  EXPECT_EQ(std::vector<float>(angles.begin(), angles.begin() + 7),
            (std::vector<float>{0.375f, 0.75f, 1.125f, 0.75f, 0.375f, 0.0f, 0.375f}));

  FloatOscillator flat;
  flat.setFloatOscWithMin(0.5f, 0.5f, 0.25f, 0.0f);
  flat.fValue = 0.5f;
  for (float expected : {-0.25f, 0.25f, -0.25f, 0.25f}) {
    EXPECT_EQ(flat.nextTriangleValue(), 0.5f);
    EXPECT_EQ(flat.fInc, expected);
  }
}

TEST(FloatOscillator, RandomValueInRange) {
  ScriptedRandom r{100, 400, 5, 9};
  FloatOscillator o;
  o.setFloatOscWithMin(2.0f, 4.0f, 0.1f, 0.0f);
  EXPECT_EQ(o.randomValue(), 2.5f);
  o.setMinWith(3.0f);
  o.setMaxWith(3.0f);
  EXPECT_EQ(o.randomValue(), 3.0f);
  EXPECT_EQ(o.fAngle, 0.0f);
}

}  // namespace
