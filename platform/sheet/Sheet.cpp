#include "sheet/Sheet.h"

#include <limits>
#include <system_error>

namespace sheet {

namespace {

SheetToolkit* gToolkit = nullptr;

}  // namespace

std::string_view sheetObjectKindName(SheetObjectKind kind) {
  switch (kind) {
    case SheetObjectKind::window:
      return "a window";
    case SheetObjectKind::twoState:
      return "a check button";
    case SheetObjectKind::textField:
      return "a text field";
    case SheetObjectKind::stepper:
      return "a stepper";
    case SheetObjectKind::popUp:
      return "a pop-up";
    case SheetObjectKind::button:
      return "a button";
    case SheetObjectKind::slider:
      return "a slider";
    case SheetObjectKind::label:
      return "a label";
  }
  return "an object";
}

SheetWindow::~SheetWindow() = default;
SheetControl::~SheetControl() = default;
SheetToolkit::~SheetToolkit() = default;

std::filesystem::path SheetToolkit::resourcePath(const std::string& fileName) const {
  for (const std::filesystem::path& dir : resourceDirectories_) {
    std::error_code ec;
    std::filesystem::path path = dir / fileName;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return {};
}

SheetOwner::~SheetOwner() {
  if (gToolkit) gToolkit->forgetOwner(*this);
}

SheetToolkit* sheetToolkit() { return gToolkit; }
void setSheetToolkit(SheetToolkit* toolkit) { gToolkit = toolkit; }

std::string checkSheet(
    const std::string& file, SheetOwner& owner,
    const std::function<SheetObjectFound(std::string_view id, SheetObjectKind kind)>& find,
    const std::set<std::string, std::less<>>& handlers) {
  for (const SheetOwner::Outlet& outlet : owner.sheetOutlets()) {
    const SheetObjectFound found = find(outlet.name, outlet.kind);
    if (!found.exists) {
      if (!outlet.required) continue;
      return file + ": there is no object with id \"" + std::string(outlet.name) + "\"";
    }
    if (!found.fits) {
      return file + ": the object \"" + std::string(outlet.name) + "\" is a " +
             (found.className.empty() ? std::string("object") : found.className) + ", not " +
             std::string(sheetObjectKindName(outlet.kind));
    }
    if (outlet.items >= 0 && found.items != outlet.items) {
      return file + ": the pop-up \"" + std::string(outlet.name) + "\" has " +
             std::to_string(found.items) + " items, not " + std::to_string(outlet.items);
    }
  }
  for (std::string_view action : owner.sheetActions()) {
    if (!handlers.contains(action)) {
      return file + ": no control sends the action \"" + std::string(action) + "\"";
    }
  }
  return {};
}

std::optional<int32_t> wholeNumber(std::string_view text) {
  const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + (ch - '0');
    if (value > int64_t{1} << 32) value = int64_t{1} << 32;  // saturates below
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace sheet
