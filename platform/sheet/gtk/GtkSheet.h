#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <memory>

#include "sheet/Sheet.h"

namespace sheet {

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
  // Called after a sheet was ended, or closed by the window manager, with how it ended.
  using SheetEndedHandler = std::function<void(SheetWindow*, SheetOutcome)>;
  void setSheetEndedHandler(SheetEndedHandler handler) { ended_ = std::move(handler); }
  void sheetEnded(SheetWindow* sheet, SheetOutcome outcome) {
    if (ended_) ended_(sheet, outcome);
  }
  // Loads alive: those of the owners, and any that something still holds.
  static int liveLoads();

  // Whether the interface file is well-formed XML from start to end (the builder takes a file
  // cut short as far as it goes), at most 1 MiB and nested at most 100 elements deep (deeper
  // ones crash GTK); otherwise `whyNot` says where not, naming the file.
  static bool parsesWhole(const std::string& file, std::string& whyNot);
  // GTK 4.8 names a button whose label has an access key by that label, underscore and all
  // ("_OK OK" with the label inside), and a control by the label that gives it its access key
  // not at all: each button and check button of the builder is named by its label as shown, a
  // label's access-key target (and the button inside a drop-down) by that label.
  static void nameControlsByTheirLabels(GtkBuilder* builder);

 private:
  std::map<SheetOwner*, std::shared_ptr<Load>> current_;
  SheetEndedHandler ended_;
};

}  // namespace sheet
