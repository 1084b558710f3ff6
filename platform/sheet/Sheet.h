#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace sheet {

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

// What an object of an interface file must be to serve an outlet.
enum class SheetObjectKind { window, twoState, textField, stepper, popUp, button, slider, label };

// "a text field", "a stepper", ...: for messages about an interface file.
std::string_view sheetObjectKindName(SheetObjectKind kind);

// A control of a sheet. A text field shows or parses a number, a two-state button's value is its
// state (0 off, 1 on), a stepper's value is its position.
class SheetControl {
 public:
  virtual ~SheetControl();
  virtual void setIntValue(int32_t value) = 0;
  virtual int32_t intValue() const = 0;
  // The value as a number: a text field's text read by wholeNumber (nothing when it is not
  // one), any other control's intValue.
  virtual std::optional<int32_t> numberValue() const { return intValue(); }
  // A text field shows that its text is in error, or no longer; other controls ignore it.
  virtual void setError(bool /*inError*/) {}
  // A label shows the text and is hidden while it is empty; a text field shows it; other
  // controls ignore it.
  virtual void setStringValue(std::string_view text) = 0;
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

// How a sheet ended, as its host is told: confirmed by the owner's confirming action, or
// dismissed in any other way (a dismissing action, the window manager's close button).
enum class SheetOutcome { confirmed, dismissed };

// The object that loads a sheet: it names its outlets and answers the actions.
class SheetOwner {
 public:
  using Slot = std::variant<SheetWindow**, SheetControl**, SheetPopUpButton**>;
  struct Outlet {
    std::string_view name;  // the id of the object in the interface file
    Slot slot;
    SheetObjectKind kind;
    bool required = true;  // a file without it is not loaded
    int items = -1;        // a pop-up's number of items, when it must have that many
  };

  virtual std::vector<Outlet> sheetOutlets() = 0;
  // The handlers that some control of the file must send: a file without one is not loaded.
  virtual std::vector<std::string_view> sheetActions() = 0;
  // Runs the handler of that name; false when the owner has none.
  virtual bool sendAction(std::string_view handler, SheetControl* sender) = 0;
  // The handler whose action confirms the sheet: a sheet ended while that action runs was
  // confirmed. None by default, so that every ending dismisses.
  virtual std::string_view confirmingAction() const { return {}; }

 protected:
  SheetOwner() = default;
  // Tells the toolkit, so that sheets still on the screen stop sending actions here.
  ~SheetOwner();
};

class SheetToolkit {
 public:
  virtual ~SheetToolkit();

  // Loads the interface file `name` (name.ui among the resource directories) with its owner:
  // outlets whose id is in the file name the fresh objects, the others keep their value. Nothing
  // is loaded, every outlet stays as it was and `whyNot` says why, naming the file, when the
  // file cannot be found, read or parsed whole, lacks a required outlet's object, has one of
  // the wrong kind, or no control of it sends one of the owner's actions.
  virtual bool loadNibNamed(const std::string& name, SheetOwner& owner, std::string& whyNot) = 0;
  // Ends the sheet's modal state and takes it off the screen.
  virtual void endSheet(SheetWindow* sheet) = 0;
  // The owner goes away: drop what was loaded for it; its sheets send it nothing more.
  virtual void forgetOwner(SheetOwner& owner) = 0;

  // Where interface files are looked for, in order: the host finds them (the toolkit knows no
  // install layout). None until the host says.
  void setResourceDirectories(std::vector<std::filesystem::path> directories) {
    resourceDirectories_ = std::move(directories);
  }

 protected:
  // The first regular file of that name in the resource directories, or an empty path.
  std::filesystem::path resourcePath(const std::string& fileName) const;

 private:
  std::vector<std::filesystem::path> resourceDirectories_;
};

// The toolkit the host installed (the settings program's GTK toolkit, a test's in-memory one),
// or none; the caller keeps it alive while installed.
SheetToolkit* sheetToolkit();
void setSheetToolkit(SheetToolkit* toolkit);

// What a toolkit found in a loaded file for one outlet.
struct SheetObjectFound {
  bool exists = false;
  bool fits = false;  // of the kind asked
  std::string className;
  int items = 0;  // a pop-up's
};
// Why the objects loaded from interface file `file` cannot serve `owner`, or an empty string:
// the first outlet whose object is missing (required ones only), of another kind or a pop-up
// with another number of items than the outlet asks for, else the
// first of the owner's actions that none of `handlers` (those the file's controls send) names.
std::string checkSheet(
    const std::string& file, SheetOwner& owner,
    const std::function<SheetObjectFound(std::string_view id, SheetObjectKind kind)>& find,
    const std::set<std::string, std::less<>>& handlers);

// How a text field reads a number: a whole number in decimal digits with an optional sign and
// blanks around it, saturated to 32 bits; nothing for any other text (empty, "abc", "12abc",
// "1e3", "0x10", "1.5", "1 2").
std::optional<int32_t> wholeNumber(std::string_view text);

}  // namespace sheet
