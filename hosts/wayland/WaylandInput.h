#pragma once

#include <memory>

struct wl_display;

namespace nimbrel::host {

// The seats of a run (keyboards and pointers) on a thread and event queue of their own, so that
// input is answered at once however long a frame takes to draw. That matters for a keyboard
// that appears during the run: the compositor sends its keys only to keyboard objects that
// exist, and a virtual keyboard types its first key a moment after it appears, before a saver
// busy drawing would have asked for one.
//
// A key, a click, or the pointer moving beyond the slack ends the run: the thread then makes
// wakeFd() readable, and the owner ends the run.
class WaylandInput {
 public:
  // Nothing when the thread or its wake-up pipe cannot be had.
  static std::unique_ptr<WaylandInput> start(wl_display* display);
  // Stops the thread, then releases every seat object; before the connection closes.
  ~WaylandInput();
  WaylandInput(const WaylandInput&) = delete;
  WaylandInput& operator=(const WaylandInput&) = delete;

  int wakeFd() const;
  bool endedRun() const;

  struct State;

 private:
  explicit WaylandInput(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace nimbrel::host
