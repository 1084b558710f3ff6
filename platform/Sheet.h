#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The sheet toolkit: what a view sees of the toolkit that shows its configuration sheet. A view
// loads an interface file by name with itself as owner; the toolkit creates the file's objects,
// points the owner's outlets at them by id and sends the owner the actions that the file names
// by handler. No toolkit header reaches the module: hosts install a toolkit (GTK in the settings
// program, an in-memory one in tests); without one, nothing loads.

// A window shown as a sheet on the host's window.
class SheetWindow {
 public:
  virtual ~SheetWindow();
};

// A control of a sheet. A text field shows or parses a number, a two-state button's value is its
// state (0 off, 1 on), a stepper's value is its position.
class SheetControl {
 public:
  virtual ~SheetControl();
  virtual void setIntValue(int32_t value) = 0;
  virtual int32_t intValue() const = 0;
};

// A pop-up of items counted from 0; its integer value is the selected index.
class SheetPopUpButton : public SheetControl {
 public:
  // An index outside the items selects nothing.
  virtual void selectItemAtIndex(int32_t index) = 0;
  // -1 when nothing is selected.
  virtual int32_t indexOfSelectedItem() const = 0;

  void setIntValue(int32_t value) override { selectItemAtIndex(value); }
  int32_t intValue() const override { return indexOfSelectedItem(); }
};

// The object that loads a sheet: it names its outlets and answers the actions.
class SheetOwner {
 public:
  using Slot = std::variant<SheetWindow**, SheetControl**, SheetPopUpButton**>;
  struct Outlet {
    std::string_view name;  // the id of the object in the interface file
    Slot slot;
  };

  virtual std::vector<Outlet> sheetOutlets() = 0;
  // Runs the handler of that name; false when the owner has none.
  virtual bool sendAction(std::string_view handler, SheetControl* sender) = 0;

 protected:
  SheetOwner() = default;
  // Tells the toolkit, so that sheets still on the screen stop sending actions here.
  ~SheetOwner();
};

class SheetToolkit {
 public:
  virtual ~SheetToolkit();

  // Loads the interface file `name` (name.ui among the resource directories) with its owner:
  // outlets whose id is in the file name the fresh objects, the others keep their value. False,
  // with every outlet as it was, when the file cannot be found or read.
  virtual bool loadNibNamed(const std::string& name, SheetOwner& owner) = 0;
  // Ends the sheet's modal state and takes it off the screen.
  virtual void endSheet(SheetWindow* sheet) = 0;
  // The owner goes away: drop what was loaded for it; its sheets send it nothing more.
  virtual void forgetOwner(SheetOwner& owner) = 0;
};

namespace platform {

// The toolkit the host installed (the settings program's GTK toolkit, a test's in-memory one),
// or none; the caller keeps it alive while installed.
SheetToolkit* sheetToolkit();
void setSheetToolkit(SheetToolkit* toolkit);

// Where resources are looked for: only $NIMBREL_RESOURCES when it is set. Otherwise the source
// tree's resources/ for a program run from the build tree, the installed data directory
// otherwise (the other one second).
std::vector<std::filesystem::path> resourceDirectories();
// The first existing file of that name in the resource directories, or an empty path.
std::filesystem::path findResource(const std::string& fileName);

// How a text field reads a number: leading blanks, an optional sign, then digits; anything after
// them is ignored; saturated to 32 bits; 0 when there are no digits.
int32_t leadingInteger(std::string_view text);

}  // namespace platform
