#pragma once

#include <cstdint>

namespace nimbrel {

// Random helpers. All randomness comes from the process-wide generator (services::random); no
// function here keeps state of its own.

// The smaller of two 16-bit draws over the larger: 0 to 1, both ends included. Two draws.
float RandomFloat();
// One of the 100 phase angles k * 2pi / 100, in radians. One draw.
float RandomPhase();
float absFloat(float x);
int16_t absOld(int16_t x);

// A single-precision value generator that stays between fMin and fMax; the caller picks the
// wave shape on every step. The one source of motion of the pattern.
class FloatOscillator {
 public:
  FloatOscillator() = default;

  void setFloatOscWithMin(float min, float max, float step, float angle);
  void setStepWith(float step) { fInc = step; }
  void setMinWith(float min) { fMin = min; }
  void setMaxWith(float max) { fMax = max; }
  float min() const { return fMin; }
  float max() const { return fMax; }

  float nextValue();          // sine of the running angle, mapped onto the range
  float nextRampValue();      // sawtooth: the overshoot is carried to the other bound
  float nextTriangleValue();  // bounce: clamped onto the bound crossed, step reversed
  float randomValue();        // a fresh value in the range; angle and step untouched

  float fMin = 0.0f;
  float fMax = 0.0f;
  float fInc = 0.0f;       // per step: radians for the sine, value units for ramp and triangle
  float fAngle = 0.0f;     // radians; grows without bound, never reduced modulo 2pi
  float fValue = 0.0f;     // last value produced
  int32_t fWaveShape = 0;  // set to 1 by setFloatOscWithMin; nothing reads it
};

}  // namespace nimbrel
