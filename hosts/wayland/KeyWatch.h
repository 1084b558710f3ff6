#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nimbrel::host {

// Whether a keyboard's events mean that somebody is typing, which ends a saver run. Only keys
// count; modifiers, keymaps and focus changes never do.
//
// A keyboard that appears while the saver runs (plugged in, or a virtual one) may send its first
// press before the compositor has given the saver a keyboard object for it; the saver then
// learns of that press only as a key held when the focus arrives, or as a bare release. Both
// count for such a keyboard. A keyboard that was there from the start is different: a key held
// as the saver's surface gains the focus is one pressed before the saver ran, such as the Enter
// that started it from a terminal, and neither it nor its release counts.
//
// A press and release both over before the saver's keyboard object reaches the compositor never
// reach the saver at all (a virtual keyboard types that fast, and a busy machine may keep the
// saver from asking in time). The compositor then tells of them only as the seat's activity: its
// idle timer resuming. Such activity counts while a keyboard that appeared during the run has
// not yet been heard from; once it has, its keys themselves tell.
class KeyWatch {
 public:
  explicit KeyWatch(bool appearedDuringRun = false) : appearedDuringRun_(appearedDuringRun) {}
  // The focus arrived with these keys held; true when that ends the run.
  bool entered(const uint32_t* keys, size_t count);
  void left() { heldBeforeRun_.clear(); }
  // True when this key event ends the run.
  bool key(uint32_t key, bool pressed);
  // Any event of the keyboard object: it now exists at the compositor.
  void heard() { heard_ = true; }
  // The seat's idle timer resumed; true when that ends the run.
  bool seatActive() const { return appearedDuringRun_ && !heard_; }

 private:
  bool appearedDuringRun_;
  bool heard_ = false;
  std::vector<uint32_t> heldBeforeRun_;
};

}  // namespace nimbrel::host
