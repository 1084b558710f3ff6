#include "tests/support/MemorySheet.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sheet {

namespace {

using Kind = MemorySheetToolkit::Kind;

// The interface file's classes that stand for something here; every other class is layout.
bool kindOfClass(const std::string& cls, Kind* kind) {
  static const std::map<std::string, Kind> kinds = {
      {"GtkCheckButton", Kind::twoState}, {"GtkToggleButton", Kind::twoState},
      {"GtkSwitch", Kind::twoState},      {"GtkEntry", Kind::textField},
      {"NimbrelStepper", Kind::stepper},  {"GtkDropDown", Kind::popUp},
      {"GtkButton", Kind::button},        {"GtkScale", Kind::slider},
      {"GtkLabel", Kind::label},
  };
  const auto it = kinds.find(cls);
  if (it == kinds.end()) return false;
  *kind = it->second;
  return true;
}

bool truthOf(const std::string& text) {
  return text == "true" || text == "TRUE" || text == "yes" || text == "1";
}

// One open <object>: what it became here (a window, a control or nothing).
struct Frame {
  MemorySheetToolkit::Window* window = nullptr;
  MemorySheetToolkit::Control* control = nullptr;
};

struct Parse {
  MemorySheetToolkit::Loaded* loaded;
  std::vector<Frame> objects;
  std::string property;  // the property being read, empty outside one
  bool inItem = false;
  std::string textBuffer;
};

const char* attribute(const char** names, const char** values, const char* wanted) {
  for (int i = 0; names[i]; ++i) {
    if (std::strcmp(names[i], wanted) == 0) return values[i];
  }
  return nullptr;
}

void startElement(GMarkupParseContext*, const char* element, const char** names,
                  const char** values, gpointer data, GError**) {
  auto& p = *static_cast<Parse*>(data);
  const std::string name = element;
  if (name == "object") {
    const char* cls = attribute(names, values, "class");
    const char* id = attribute(names, values, "id");
    const std::string key = id ? id : "";
    if (!key.empty()) p.loaded->classes[key] = cls ? cls : "";
    Frame frame;
    Kind kind;
    const bool window =
        cls && (std::strcmp(cls, "GtkWindow") == 0 || std::strcmp(cls, "GtkDialog") == 0);
    // Objects without an id are layout: nothing can look them up.
    if (key.empty()) {
      // nothing to keep
    } else if (window) {
      auto w = std::make_unique<MemorySheetToolkit::Window>();
      w->id = key;
      frame.window = w.get();
      p.loaded->windows[key] = std::move(w);
    } else if (cls && kindOfClass(cls, &kind)) {
      auto c = std::make_unique<MemorySheetToolkit::Control>();
      c->kind = kind;
      c->id = key;
      c->loaded = p.loaded;
      frame.control = c.get();
      p.loaded->controls[key] = std::move(c);
    }
    p.objects.push_back(frame);
  } else if (name == "property") {
    const char* prop = attribute(names, values, "name");
    p.property = prop ? prop : "";
    p.textBuffer.clear();
  } else if (name == "signal") {
    const char* handler = attribute(names, values, "handler");
    if (handler) p.loaded->handlers.emplace(handler);
    if (!p.objects.empty() && p.objects.back().control && handler) {
      p.objects.back().control->handler = handler;
    }
  } else if (name == "stepper") {
    // A stepper's limits and the field it is tied to.
    MemorySheetToolkit::Control* c = p.objects.empty() ? nullptr : p.objects.back().control;
    if (c && c->kind == Kind::stepper) {
      for (int i = 0; names[i]; ++i) {
        const std::string attr = names[i];
        const int32_t number = sheet::leadingInteger(values[i]);
        if (attr == "field") c->fieldId = values[i];
        if (attr == "lower") c->lower = number;
        if (attr == "upper") c->upper = number;
        if (attr == "increment") c->increment = number;
      }
    }
  } else if (name == "item") {
    p.inItem = true;
    p.textBuffer.clear();
  }
}

void applyProperty(Frame& frame, const std::string& prop, const std::string& text) {
  MemorySheetToolkit::Control* c = frame.control;
  if (!c) return;
  const int32_t number = sheet::leadingInteger(text);
  if (c->kind == Kind::twoState && prop == "active") c->value = truthOf(text) ? 1 : 0;
  if (c->kind == Kind::textField && prop == "text") c->text = text;
  if (c->kind == Kind::popUp && prop == "selected") c->selected = number;
}

void endElement(GMarkupParseContext*, const char* element, gpointer data, GError**) {
  auto& p = *static_cast<Parse*>(data);
  const std::string name = element;
  if (name == "object") {
    if (!p.objects.empty()) p.objects.pop_back();
  } else if (name == "property") {
    if (!p.objects.empty()) applyProperty(p.objects.back(), p.property, p.textBuffer);
    p.property.clear();
  } else if (name == "item" && p.inItem) {
    // An item of a string list belongs to the nearest pop-up around it.
    for (auto it = p.objects.rbegin(); it != p.objects.rend(); ++it) {
      if (it->control && it->control->kind == Kind::popUp) {
        it->control->items.push_back(p.textBuffer);
        break;
      }
    }
    p.inItem = false;
  }
}

void text(GMarkupParseContext*, const char* chars, gsize length, gpointer data, GError**) {
  auto& p = *static_cast<Parse*>(data);
  if (!p.property.empty() || p.inItem) p.textBuffer.append(chars, length);
}

}  // namespace

// --- controls -----------------------------------------------------------------------------

void MemorySheetToolkit::Control::setIntValue(int32_t v) {
  switch (kind) {
    case Kind::twoState:
      value = v != 0 ? 1 : 0;
      break;
    case Kind::textField:
      text = std::to_string(v);
      break;
    case Kind::stepper:
      value = std::clamp(v, lower, upper);
      break;
    case Kind::popUp:
      selectItemAtIndex(v);
      break;
    case Kind::slider:
      value = v;
      break;
    case Kind::window:
    case Kind::label:
    case Kind::button:
      break;
  }
}

void MemorySheetToolkit::Control::setStringValue(std::string_view newText) {
  if (kind == Kind::textField || kind == Kind::label) text = newText;
}

int32_t MemorySheetToolkit::Control::intValue() const {
  switch (kind) {
    case Kind::textField:
      return sheet::leadingInteger(text);
    case Kind::popUp:
      return selected;
    default:
      return value;
  }
}

void MemorySheetToolkit::Control::selectItemAtIndex(int32_t index) {
  selected = index >= 0 && index < static_cast<int32_t>(items.size()) ? index : -1;
}

void MemorySheetToolkit::Control::type(const std::string& newText) {
  text = newText;
  fire();
}

void MemorySheetToolkit::Control::click() {
  if (kind == Kind::twoState) value = value != 0 ? 0 : 1;
  fire();
}

void MemorySheetToolkit::Control::stepUp() { step(increment); }
void MemorySheetToolkit::Control::stepDown() { step(-increment); }

// Steps from the number the field shows, so that stepping after typing continues from what
// was typed, and shows the result in the field.
void MemorySheetToolkit::Control::step(int32_t delta) {
  const int32_t base = field ? field->intValue() : value;
  value = std::clamp(
      static_cast<int32_t>(std::clamp<int64_t>(int64_t{base} + delta, INT32_MIN, INT32_MAX)), lower,
      upper);
  if (field) field->text = std::to_string(value);
  fire();
}

void MemorySheetToolkit::Control::choose(int32_t index) {
  selectItemAtIndex(index);
  fire();
}

void MemorySheetToolkit::Control::fire() {
  if (handler.empty() || !loaded || !loaded->owner) return;
  if (!loaded->owner->sendAction(handler, this)) loaded->unknownHandlers.push_back(handler);
}

// --- the toolkit --------------------------------------------------------------------------

bool MemorySheetToolkit::loadNibNamed(const std::string& name, SheetOwner& owner,
                                      std::string& whyNot) {
  ++requests_;
  const std::filesystem::path path = resourcePath(name + ".ui");
  if (path.empty()) {
    whyNot = "there is no " + name + ".ui in the resource directories";
    return false;
  }
  std::ifstream in(path);
  std::stringstream contents;
  contents << in.rdbuf();
  if (!in) {
    whyNot = path.string() + ": cannot be read";
    return false;
  }

  auto loaded = std::make_unique<Loaded>();
  loaded->file = path.string();
  Parse parse{loaded.get(), {}, {}, false, {}};
  GMarkupParser parser{&startElement, &endElement, &text, nullptr, nullptr};
  GMarkupParseContext* context =
      g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &parse, nullptr);
  const std::string xml = contents.str();
  GError* error = nullptr;
  const bool parsed = g_markup_parse_context_parse(context, xml.data(), xml.size(), &error) &&
                      g_markup_parse_context_end_parse(context, &error);
  g_markup_parse_context_free(context);
  if (!parsed) {
    whyNot = loaded->file + ": " + (error ? error->message : "cannot be parsed");
    if (error) g_error_free(error);
    return false;
  }
  whyNot = sheet::checkSheet(
      loaded->file, owner,
      [&](std::string_view id, SheetObjectKind kind) {
        sheet::SheetObjectFound found;
        const auto cls = loaded->classes.find(id);
        if (cls == loaded->classes.end()) return found;
        found.exists = true;
        found.className = cls->second;
        const std::string key(id);
        if (kind == Kind::window) {
          found.fits = loaded->windows.contains(key);
        } else {
          const auto c = loaded->controls.find(key);
          found.fits = c != loaded->controls.end() && c->second->kind == kind;
          if (found.fits) found.items = static_cast<int>(c->second->items.size());
        }
        return found;
      },
      loaded->handlers);
  if (!whyNot.empty()) return false;

  for (auto& [id, control] : loaded->controls) {
    if (control->kind != Kind::stepper) continue;
    const auto it = loaded->controls.find(control->fieldId);
    if (it != loaded->controls.end()) control->field = it->second.get();
  }

  // Connect the outlets that the file has an object of the right kind for.
  for (const SheetOwner::Outlet& outlet : owner.sheetOutlets()) {
    const std::string id(outlet.name);
    const auto w = loaded->windows.find(id);
    const auto c = loaded->controls.find(id);
    if (auto* slot = std::get_if<SheetWindow**>(&outlet.slot)) {
      if (w != loaded->windows.end()) **slot = w->second.get();
    } else if (auto* slot = std::get_if<SheetControl**>(&outlet.slot)) {
      if (c != loaded->controls.end()) **slot = c->second.get();
    } else if (auto* slot = std::get_if<SheetPopUpButton**>(&outlet.slot)) {
      if (c != loaded->controls.end() && c->second->kind == Kind::popUp) **slot = c->second.get();
    }
  }
  loaded->owner = &owner;
  loaded_.push_back(std::move(loaded));
  return true;
}

void MemorySheetToolkit::endSheet(SheetWindow* sheet) {
  ++endCalls_;
  if (auto* w = dynamic_cast<Window*>(sheet)) w->onScreen = false;
}

void MemorySheetToolkit::forgetOwner(SheetOwner& owner) {
  for (auto& l : loaded_) {
    if (l->owner == &owner) l->owner = nullptr;
  }
}

MemorySheetToolkit::Control& MemorySheetToolkit::control(const std::string& id) {
  Loaded* l = last();
  if (!l) throw std::logic_error("no sheet loaded");
  const auto it = l->controls.find(id);
  if (it == l->controls.end()) throw std::logic_error("no control '" + id + "' in " + l->file);
  return *it->second;
}

}  // namespace sheet
