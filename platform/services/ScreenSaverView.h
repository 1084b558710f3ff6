#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "graphics/Geometry.h"
#include "graphics/Graphics.h"

namespace sheet {
class SheetWindow;
}  // namespace sheet

namespace services {

// The view base works in the graphics library's terms and hands out the sheet of its subclass.
using graphics::Canvas;
using graphics::GraphicsContext;
using graphics::Rect;
using sheet::SheetWindow;

// How a host wants a view's drawing surface made.
struct ViewOptions {
  // Device pixels per view unit (2 on a HiDPI display): bounds stay in units, the canvas is in
  // device pixels.
  float backingScaleFactor = 1.0f;

  // What draws on the canvas: the fast oval compositor, or plain Cairo for everything. Hosts
  // choose (the user through NIMBREL_BACKEND); the view base never looks at the environment.
  enum class Backend { fast, cairo };
  Backend backend = Backend::fast;
  // Threads that the fast backend may draw with; 0 picks a number from the machine's cores.
  int drawingThreads = 0;
  // Where the canvas's pixels live: a host that shows the canvas through memory it shares with
  // the display server offers that memory, so that frames are drawn there and never copied.
  // Unset, or offering nothing, the canvas has memory of its own.
  graphics::PixelProvider pixels = nullptr;
};

// The base of every saver view: its frame and bounds, the preview flag, the animation interval
// that the host follows, and the persistent canvas with the graphics context that draws on it.
// The host owns the loop; a view only answers calls.
class ScreenSaverView {
 public:
  virtual ~ScreenSaverView();
  ScreenSaverView(const ScreenSaverView&) = delete;
  ScreenSaverView& operator=(const ScreenSaverView&) = delete;

  virtual void startAnimation();
  virtual void stopAnimation();
  // Paints the rectangle (view units) black: hosts call it once before the first frame.
  virtual void drawRect(const Rect& rect);
  virtual void animateOneFrame();
  virtual bool hasConfigureSheet();
  virtual SheetWindow* configureSheet();

  Rect frame() const { return frame_; }
  // The view's own rectangle: origin 0, 0 and the frame's size.
  Rect bounds() const { return {0.0f, 0.0f, frame_.width, frame_.height}; }
  bool isPreview() const { return isPreview_; }
  bool isAnimating() const { return animating_; }
  float backingScaleFactor() const { return scale_; }

  // Seconds between two animateOneFrame calls; hosts re-read it after every frame.
  void setAnimationTimeInterval(double seconds) { animationTimeInterval_ = seconds; }
  double animationTimeInterval() const { return animationTimeInterval_; }

  // The canvas with everything drawn so far on it (batched drawing is completed first).
  Canvas& canvas() {
    if (graphics_) graphics_->flush();
    return *canvas_;
  }
  GraphicsContext& graphics() { return *graphics_; }
  // Replaces the context that drawing goes to (a recorder in tests, a faster backend) and
  // hands back the one it replaces, e.g. for a recorder to forward to.
  std::unique_ptr<GraphicsContext> setGraphics(std::unique_ptr<GraphicsContext> graphics) {
    std::swap(graphics_, graphics);
    return graphics;
  }
  // The host calls this after every frame: completes batched drawing and returns the part of
  // the canvas that changed, in device pixels with row 0 at the top, clipped to the canvas.
  Rect finishFrame();
  // The part that the last finishFrame found changed, as a few rectangles of device pixels
  // (row 0 at the top) that cover it without overlapping: what a presenter copies.
  const std::vector<graphics::PixelRect>& damageRects() const { return damageRects_; }

 protected:
  ScreenSaverView() = default;
  // False when no canvas can be made for the frame (empty, not finite, or absurdly large).
  bool initWithFrame(const Rect& frame, bool isPreview, const ViewOptions& options);

 private:
  Rect frame_;
  bool isPreview_ = false;
  bool animating_ = false;
  float scale_ = 1.0f;
  double animationTimeInterval_ = 1.0 / 30.0;
  std::unique_ptr<Canvas> canvas_;
  std::unique_ptr<GraphicsContext> graphics_;
  std::vector<graphics::DamagePiece> damagePieces_;
  graphics::DamageRegion damage_;
  std::vector<graphics::PixelRect> damageRects_;
};

}  // namespace services
