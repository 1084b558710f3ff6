#include "sources/Oscillator.h"

#include <tuple>
#include <vector>

#include "tests/unit/TestSupport.h"

namespace {

std::vector<float> steps(FloatOscillator& o, float (FloatOscillator::*next)(), int count) {
  std::vector<float> out;
  for (int i = 0; i < count; ++i) out.push_back((o.*next)());
  return out;
}

FloatOscillator oscillator(float min, float max, float step, float value = 0.0f) {
  FloatOscillator o;
  o.setFloatOscWithMin(min, max, step, 0.0f);
  o.fValue = value;
  return o;
}

// The smaller of two 16-bit draws over the larger: equal draws and two zeros give 1, and only
// the low 16 bits count, as a signed number made positive (65535 is -1: 1; 0x8000 is 32768).
TEST(RandomFloat, SmallerDrawOverLarger) {
  ScriptedRandom r{100, 400, 400, 100, 7, 7, 0, 0, 0, 5, 65535, 3, 0x18000, 0x4000};
  std::vector<float> got;
  for (int i = 0; i < 7; ++i) got.push_back(RandomFloat());
  EXPECT_EQ(got, (std::vector<float>{0.25f, 0.25f, 1.0f, 1.0f, 0.0f, 1.0f / 3.0f, 0.5f}));
  EXPECT_EQ(r.draws(), 14);
}

// absOld negates in 16 bits: -32768 stays itself.
TEST(RandomFloat, Absolutes) {
  EXPECT_EQ((std::vector<int>{absOld(-7), absOld(7), absOld(0), absOld(-32768)}),
            (std::vector<int>{7, 7, 0, -32768}));
  EXPECT_EQ((std::vector<float>{absFloat(-0.5f), absFloat(0.25f)}),
            (std::vector<float>{0.5f, 0.25f}));
}

TEST(RandomPhase, HundredthsOfTheCircle) {
  ScriptedRandom r{367, 99, 0, 100};
  std::vector<float> got;
  for (int i = 0; i < 4; ++i) got.push_back(RandomPhase());
  EXPECT_EQ(got, (std::vector<float>{4.20973444f, 6.2203536f, 0.0f, 0.0f}));
}

// The sine is taken in double precision: in single precision the last two give 0.510999084 and
// 16.0667381.
TEST(FloatOscillator, SineSequences) {
  FloatOscillator o = oscillator(0.0f, 1.0f, 0.5f);
  EXPECT_EQ(steps(o, &FloatOscillator::nextValue, 6),
            (std::vector<float>{0.739712775f, 0.920735478f, 0.998747468f, 0.954648733f,
                                0.799236059f, 0.570559978f}));
  EXPECT_EQ(o.fAngle, 3.0f);
  FloatOscillator p = oscillator(10.0f, 20.0f, 0.5f);
  EXPECT_EQ(steps(p, &FloatOscillator::nextValue, 3),
            (std::vector<float>{17.3971272f, 19.2073555f, 19.9874744f}));
  for (auto [min, max, step, want] : {std::tuple{0.0f, 1.0f, 0.0220000017f, 0.510999143f},
                                      {10.0f, 20.0f, 0.215000004f, 16.0667362f}}) {
    FloatOscillator q = oscillator(min, max, step);
    EXPECT_EQ(q.nextValue(), want) << step;
  }
}

// Only the bound in the direction of travel wraps, strictly: a value equal to the bound stays.
TEST(FloatOscillator, RampSequences) {
  FloatOscillator a = oscillator(0.0f, 1.0f, 0.375f);
  EXPECT_EQ(steps(a, &FloatOscillator::nextRampValue, 9),
            (std::vector<float>{0.375f, 0.75f, 0.125f, 0.5f, 0.875f, 0.25f, 0.625f, 1.0f, 0.375f}));
  FloatOscillator b = oscillator(0.5f, 1.0f, 0.25f);  // starts below the range
  EXPECT_EQ(steps(b, &FloatOscillator::nextRampValue, 6),
            (std::vector<float>{0.25f, 0.5f, 0.75f, 1.0f, 0.75f, 1.0f}));
  FloatOscillator c = oscillator(0.0f, 1.0f, -0.25f, 0.5f);
  EXPECT_EQ(steps(c, &FloatOscillator::nextRampValue, 4),
            (std::vector<float>{0.25f, 0.0f, 0.75f, 0.5f}));
  EXPECT_EQ(c.fAngle, -1.0f);
}

// The bound crossed is returned and the step reversed; the angle follows the step.
TEST(FloatOscillator, TriangleSequences) {
  FloatOscillator a = oscillator(0.0f, 1.0f, 0.375f);
  std::vector<float> values, angles;
  for (int i = 0; i < 8; ++i) {
    values.push_back(a.nextTriangleValue());
    angles.push_back(a.fAngle);
  }
  EXPECT_EQ(values, (std::vector<float>{0.375f, 0.75f, 1.0f, 0.625f, 0.25f, 0.0f, 0.375f, 0.75f}));
  EXPECT_EQ(angles,
            (std::vector<float>{0.375f, 0.75f, 1.125f, 0.75f, 0.375f, 0.0f, 0.375f, 0.75f}));

  FloatOscillator flat = oscillator(0.5f, 0.5f, 0.25f, 0.5f);
  for (float expected : {-0.25f, 0.25f, -0.25f}) {
    EXPECT_EQ(flat.nextTriangleValue(), 0.5f);
    EXPECT_EQ(flat.fInc, expected);
  }
}

TEST(FloatOscillator, RandomValueInRange) {
  ScriptedRandom r{100, 400, 5, 9};
  FloatOscillator o = oscillator(2.0f, 4.0f, 0.1f);
  EXPECT_EQ(o.randomValue(), 2.5f);
  o.setMinWith(3.0f);
  o.setMaxWith(3.0f);
  EXPECT_EQ(o.randomValue(), 3.0f);
  EXPECT_EQ(o.fAngle, 0.0f);
}

}  // namespace
