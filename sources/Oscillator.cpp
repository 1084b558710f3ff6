#include "sources/Oscillator.h"

#include <cmath>
#include <numbers>

#include "services/Random.h"

namespace nimbrel {

namespace {
// The low 16 bits of one generator value read as a signed 16-bit number, made positive in
// full-width arithmetic: 0 to 32768 (0x8000 gives 32768, 0xffff gives 1).
int32_t magnitudeOf16BitDraw() {
  const auto low = static_cast<int16_t>(static_cast<uint16_t>(services::random() & 0xffff));
  const int32_t wide = low;
  return wide < 0 ? -wide : wide;
}
}  // namespace

float RandomFloat() {
  const auto a = static_cast<float>(magnitudeOf16BitDraw());
  const auto b = static_cast<float>(magnitudeOf16BitDraw());
  if (a > b) return b / a;
  if (b == 0.0f) return 1.0f;
  return a / b;
}

float RandomPhase() {
  const long k = services::random() % 100;
  const float q = static_cast<float>(k) / 100.0f;
  const double twoPi = std::numbers::pi + std::numbers::pi;
  return static_cast<float>(static_cast<double>(q) * twoPi);
}

float absFloat(float x) { return x < 0.0f ? -x : x; }

int16_t absOld(int16_t x) { return x < 0 ? static_cast<int16_t>(-x) : x; }

void FloatOscillator::setFloatOscWithMin(float min, float max, float step, float angle) {
  fAngle = angle;
  fMin = min;
  fMax = max;
  fInc = step;
  fWaveShape = 1;
}

float FloatOscillator::nextValue() {
  fAngle = fAngle + fInc;
  const double s = std::sin(static_cast<double>(fAngle));
  const double u = 0.5 * s + 0.5;
  const float d = fMax - fMin;
  fValue = static_cast<float>(std::fma(u, static_cast<double>(d), static_cast<double>(fMin)));
  return fValue;
}

float FloatOscillator::nextRampValue() {
  const float i = fInc;
  fAngle = fAngle + i;
  float v = fValue + i;
  fValue = v;
  // Only the bound in the direction of travel is tested, and strictly: a value equal to the
  // bound stays. The wrap is applied once; an overshoot larger than the range is not reduced.
  if (i > 0.0f && v > fMax) {
    v = (v - fMax) + fMin;
    fValue = v;
  } else if (i < 0.0f && v < fMin) {
    v = fMax - (fMin - v);
    fValue = v;
  }
  return v;
}

float FloatOscillator::nextTriangleValue() {
  const float i = fInc;
  const float v = fValue + i;
  fAngle = fAngle + i;
  fValue = v;
  if (v > fMax) {
    fValue = fMax;
    fInc = -absFloat(i);
    return fMax;
  }
  if (v < fMin) {
    fValue = fMin;
    fInc = absFloat(i);
    return fMin;
  }
  return v;
}

float FloatOscillator::randomValue() {
  const float r = RandomFloat();
  const float d = fMax - fMin;
  fValue = std::fma(d, r, fMin);
  return fValue;
}

}  // namespace nimbrel
