#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>

#include "Sheet.h"

// The sheet toolkit over GTK 4: interface files are GtkBuilder files, outlets are bound to the
// objects of the same id, and every signal handler the file names is an action sent to the
// owner with the signalling object as sender. Changes the module makes to a control send no
// action; only a user's do. Ending a sheet hides its window.
class GtkSheetToolkit final : public SheetToolkit {
 public:
  struct Load;

  // Needs GTK initialised.
  GtkSheetToolkit();
  ~GtkSheetToolkit() override;

  bool loadNibNamed(const std::string& name, SheetOwner& owner, std::string& whyNot) override;
  void endSheet(SheetWindow* sheet) override;
  void forgetOwner(SheetOwner& owner) override;

  // The GTK window behind a sheet this toolkit loaded, or nothing.
  static GtkWindow* gtkWindow(SheetWindow* sheet);
  // The GTK object behind a control this toolkit loaded, or nothing.
  static GObject* gtkObject(SheetControl* control);
  // Called after a sheet was ended, or closed by the window manager.
  void setSheetEndedHandler(std::function<void(SheetWindow*)> handler) {
    ended_ = std::move(handler);
  }
  void sheetEnded(SheetWindow* sheet) {
    if (ended_) ended_(sheet);
  }
  // Loads alive: those of the owners, and any that something still holds.
  static int liveLoads();

 private:
  std::map<SheetOwner*, std::shared_ptr<Load>> current_;
  std::function<void(SheetWindow*)> ended_;
};
