#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sheet/Sheet.h"

namespace sheet {

// A sheet toolkit without a display, for tests. It reads the same interface files as the GTK
// toolkit, understanding the objects it knows by class (windows, check buttons, entries,
// steppers, drop-downs, buttons, scales and labels with an id), their ids, the properties that
// matter and the signal handlers, and keeps every value in memory. It refuses a file as the GTK
// toolkit does: one that does not parse whole, or lacks or mistypes an object the owner needs.
// Tests then act as a user would: type into a field, click, step, choose an item; each of these
// sends the control's action to the owner.
class MemorySheetToolkit final : public SheetToolkit {
 public:
  struct Loaded;

  class Window final : public SheetWindow {
   public:
    std::string id;
    bool onScreen = true;  // until the sheet is ended
  };

  using Kind = SheetObjectKind;

  class Control final : public SheetPopUpButton {
   public:
    void setIntValue(int32_t value) override;
    int32_t intValue() const override;
    void selectItemAtIndex(int32_t index) override;
    int32_t indexOfSelectedItem() const override { return selected; }
    void setStringValue(std::string_view newText) override;

    // What a user does. Each sends the control's action, if it has one, to the owner.
    void type(const std::string& newText);  // replaces a text field's content
    void click();                           // toggles a two-state button; presses a button
    void stepUp();                          // a stepper: from the number its field shows
    void stepDown();
    void choose(int32_t index);  // selects a pop-up item

    Kind kind = Kind::button;
    std::string id;
    std::string handler;  // the action, empty for none
    std::string text;     // a text field's or label's content
    int32_t value = 0;    // a two-state button's state, a stepper's or slider's position
    int32_t lower = 0, upper = 100, increment = 1;  // a stepper's limits and step
    std::string fieldId;                            // the text field a stepper is tied to
    Control* field = nullptr;
    std::vector<std::string> items;  // a pop-up's titles
    int32_t selected = -1;
    Loaded* loaded = nullptr;

   private:
    void step(int32_t delta);
    void fire();
  };

  // The objects of one load.
  struct Loaded {
    std::string file;
    SheetOwner* owner = nullptr;  // none once the owner went away
    std::map<std::string, std::unique_ptr<Window>> windows;
    std::map<std::string, std::unique_ptr<Control>> controls;
    std::map<std::string, std::string, std::less<>> classes;  // of every object with an id
    std::set<std::string, std::less<>> handlers;              // every handler the file names
    std::vector<std::string> unknownHandlers;  // actions sent that the owner did not answer
  };

  bool loadNibNamed(const std::string& name, SheetOwner& owner, std::string& whyNot) override;
  void endSheet(SheetWindow* sheet) override;
  void forgetOwner(SheetOwner& owner) override;

  int loadRequests() const { return requests_; }
  int loads() const { return static_cast<int>(loaded_.size()); }
  int endSheetCalls() const { return endCalls_; }
  // The objects of the most recent successful load; nothing before the first.
  Loaded* last() { return loaded_.empty() ? nullptr : loaded_.back().get(); }
  // A control of the most recent load by id; fails the caller's expectations loudly if missing.
  Control& control(const std::string& id);

 private:
  // Every load is kept for the toolkit's life, as sheets still shown may be used.
  std::vector<std::unique_ptr<Loaded>> loaded_;
  int requests_ = 0;
  int endCalls_ = 0;
};

}  // namespace sheet
