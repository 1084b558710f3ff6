#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "graphics/Canvas.h"
#include "graphics/DamageRegion.h"
#include "graphics/Geometry.h"
#include "graphics/Graphics.h"
#include "services/Settings.h"

namespace sheet {
class SheetWindow;
}  // namespace sheet

namespace services {

// How a host wants a view's drawing surface made.
struct ViewOptions {
  // Device pixels per view unit (2 on a HiDPI display): bounds stay in units, the canvas is in
  // device pixels.
  float backingScaleFactor = 1.0f;

  // What draws on the canvas, at `scale` device pixels per unit: the host's choice of backend.
  // Unset, plain Cairo draws everything.
  using GraphicsMaker =
      std::function<std::unique_ptr<graphics::GraphicsContext>(graphics::Canvas&, float scale)>;
  GraphicsMaker makeGraphics;
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
  virtual void drawRect(const graphics::Rect& rect);
  virtual void animateOneFrame();
  virtual bool hasConfigureSheet();
  virtual sheet::SheetWindow* configureSheet();
  // Why the last configureSheet gave no sheet; empty when it gave one.
  const std::string& sheetProblem() const { return sheetProblem_; }

  graphics::Rect frame() const { return frame_; }
  // The view's own rectangle: origin 0, 0 and the frame's size.
  graphics::Rect bounds() const { return {0.0f, 0.0f, frame_.width, frame_.height}; }
  bool isPreview() const { return isPreview_; }
  bool isAnimating() const { return animating_; }
  float backingScaleFactor() const { return scale_; }

  // Seconds between two animateOneFrame calls; hosts re-read it after every frame.
  void setAnimationTimeInterval(double seconds) { animationTimeInterval_ = seconds; }
  double animationTimeInterval() const { return animationTimeInterval_; }

  // The canvas with everything drawn so far on it (batched drawing is completed first).
  graphics::Canvas& canvas() {
    if (graphics_) graphics_->flush();
    return *canvas_;
  }
  graphics::GraphicsContext& graphics() { return *graphics_; }
  // Replaces the context that drawing goes to (a recorder in tests, a faster backend) and
  // hands back the one it replaces, e.g. for a recorder to forward to.
  std::unique_ptr<graphics::GraphicsContext> setGraphics(
      std::unique_ptr<graphics::GraphicsContext> graphics) {
    std::swap(graphics_, graphics);
    return graphics;
  }
  // The host calls this after every frame: completes batched drawing and returns the part of
  // the canvas that changed, in device pixels with row 0 at the top, clipped to the canvas.
  graphics::Rect finishFrame();
  // The part that the last finishFrame found changed, as a few rectangles of device pixels
  // (row 0 at the top) that cover it without overlapping: what a presenter copies.
  const std::vector<graphics::PixelRect>& damageRects() const { return damageRects_; }

 protected:
  ScreenSaverView() = default;
  std::string sheetProblem_;
  // False when no canvas can be made for the frame (empty, not finite, or absurdly large).
  bool initWithFrame(const graphics::Rect& frame, bool isPreview, const ViewOptions& options);

 private:
  graphics::Rect frame_;
  bool isPreview_ = false;
  bool animating_ = false;
  float scale_ = 1.0f;
  double animationTimeInterval_ = 1.0 / 30.0;
  std::unique_ptr<graphics::Canvas> canvas_;
  std::unique_ptr<graphics::GraphicsContext> graphics_;
  std::vector<graphics::DamagePiece> damagePieces_;
  graphics::DamageRegion damage_;
  std::vector<graphics::PixelRect> damageRects_;
};

// How a host makes the views of the module its program chose: one for each screen it covers
// and one for a preview pane. Nothing when no view can be made for that frame.
using ViewFactory = std::function<std::unique_ptr<ScreenSaverView>(
    const graphics::Rect& frame, bool isPreview, const ViewOptions& options)>;

// What a program registers of the module it runs, as a saver framework loads one: the table of
// its settings, and how to make its views with the settings given for one run.
struct ScreenSaverModule {
  std::span<const SettingDescription> settings;
  std::function<std::unique_ptr<ScreenSaverView>(const graphics::Rect& frame, bool isPreview,
                                                 const ViewOptions& options,
                                                 const RunSettings& run)>
      makeView;

  // The views of one run, with its settings.
  ViewFactory viewsWith(RunSettings run) const {
    return [make = makeView, run = std::move(run)](const graphics::Rect& frame, bool isPreview,
                                                   const ViewOptions& options) {
      return make(frame, isPreview, options, run);
    };
  }
};

}  // namespace services
