#include "hosts/preview/FrameSource.h"

namespace nimbrel::host {

struct FrameSource::Source {
  GSource base;
  FrameSource* owner;
};

namespace {

// GLib's ready times are microseconds of the same monotonic clock; rounded up, so that the loop
// never wakes before the deadline.
gint64 readyMicros(Nanos due) { return due / 1000 + (due % 1000 > 0 ? 1 : 0); }

}  // namespace

FrameSource::FrameSource(Frame frame) : frame_(std::move(frame)), scheduler_(monotonicNanos()) {
  // No prepare or check: the source becomes ready at its ready time alone.
  static GSourceFuncs funcs = {nullptr, nullptr, &FrameSource::dispatch, nullptr, nullptr, nullptr};
  source_ = g_source_new(&funcs, sizeof(Source));
  reinterpret_cast<Source*>(source_)->owner = this;
  g_source_set_name(source_, "nimbrel preview frames");
  arm();
  g_source_attach(source_, g_main_context_get_thread_default());
}

FrameSource::~FrameSource() {
  g_source_destroy(source_);
  g_source_unref(source_);
}

void FrameSource::arm() { g_source_set_ready_time(source_, readyMicros(scheduler_.due())); }

gboolean FrameSource::dispatch(GSource* source, GSourceFunc, gpointer) {
  FrameSource& self = *reinterpret_cast<Source*>(source)->owner;
  if (self.scheduler_.isDue(monotonicNanos())) {
    const double interval = self.frame_();
    self.scheduler_.frameDone(interval, monotonicNanos());
  }
  self.arm();
  return G_SOURCE_CONTINUE;
}

}  // namespace nimbrel::host
