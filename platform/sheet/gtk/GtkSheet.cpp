#include "sheet/gtk/GtkSheet.h"

#include <glib/gstdio.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "services/Translate.h"
#include "sheet/gtk/Stepper.h"

namespace sheet {

namespace {

class Window final : public SheetWindow {
 public:
  explicit Window(GtkWindow* w) : window(GTK_WINDOW(g_object_ref(w))) {}
  ~Window() override { g_object_unref(window); }
  GtkWindow* window;
};

enum class Kind {
  stepper,
  popUp,
  checkButton,
  toggleButton,
  switchButton,
  textField,
  slider,
  button,
  label,
  other
};

Kind kindOf(GObject* o) {
  if (NIMBREL_IS_STEPPER(o)) return Kind::stepper;
  if (GTK_IS_DROP_DOWN(o)) return Kind::popUp;
  if (GTK_IS_CHECK_BUTTON(o)) return Kind::checkButton;
  if (GTK_IS_TOGGLE_BUTTON(o)) return Kind::toggleButton;
  if (GTK_IS_SWITCH(o)) return Kind::switchButton;
  if (GTK_IS_EDITABLE(o)) return Kind::textField;
  if (GTK_IS_RANGE(o)) return Kind::slider;
  if (GTK_IS_BUTTON(o)) return Kind::button;
  if (GTK_IS_LABEL(o)) return Kind::label;
  return Kind::other;
}

bool fits(GObject* o, SheetObjectKind kind) {
  switch (kind) {
    case SheetObjectKind::window:
      return GTK_IS_WINDOW(o);
    case SheetObjectKind::twoState:
      return GTK_IS_CHECK_BUTTON(o) || GTK_IS_TOGGLE_BUTTON(o) || GTK_IS_SWITCH(o);
    case SheetObjectKind::textField:
      return GTK_IS_EDITABLE(o) && !NIMBREL_IS_STEPPER(o);
    case SheetObjectKind::stepper:
      return NIMBREL_IS_STEPPER(o);
    case SheetObjectKind::popUp:
      return GTK_IS_DROP_DOWN(o);
    case SheetObjectKind::button:
      return GTK_IS_BUTTON(o);
    case SheetObjectKind::slider:
      return GTK_IS_RANGE(o);
    case SheetObjectKind::label:
      return GTK_IS_LABEL(o);
  }
  return false;
}

class Control final : public SheetPopUpButton {
 public:
  Control(GObject* o, int* quiet)
      : object(G_OBJECT(g_object_ref(o))), kind(kindOf(o)), quiet_(quiet) {}
  ~Control() override { g_object_unref(object); }

  void setIntValue(int32_t v) override {
    ++*quiet_;
    switch (kind) {
      case Kind::stepper:
        nimbrel_stepper_set_value(NIMBREL_STEPPER(object), v);
        break;
      case Kind::popUp:
        selectItemAtIndex(v);
        break;
      case Kind::checkButton:
        gtk_check_button_set_active(GTK_CHECK_BUTTON(object), v != 0);
        break;
      case Kind::toggleButton:
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(object), v != 0);
        break;
      case Kind::switchButton:
        gtk_switch_set_active(GTK_SWITCH(object), v != 0);
        break;
      case Kind::textField:
        gtk_editable_set_text(GTK_EDITABLE(object), std::to_string(v).c_str());
        break;
      case Kind::slider:
        gtk_range_set_value(GTK_RANGE(object), v);
        break;
      case Kind::button:
      case Kind::label:
      case Kind::other:
        break;
    }
    --*quiet_;
  }

  void setStringValue(std::string_view text) override {
    const std::string s(text);
    ++*quiet_;
    if (kind == Kind::label) {
      gtk_label_set_text(GTK_LABEL(object), s.c_str());
      gtk_widget_set_visible(GTK_WIDGET(object), !s.empty());
    } else if (kind == Kind::textField) {
      gtk_editable_set_text(GTK_EDITABLE(object), s.c_str());
    }
    --*quiet_;
  }

  int32_t intValue() const override {
    switch (kind) {
      case Kind::stepper:
        return nimbrel_stepper_get_value(NIMBREL_STEPPER(object));
      case Kind::popUp:
        return indexOfSelectedItem();
      case Kind::checkButton:
        return gtk_check_button_get_active(GTK_CHECK_BUTTON(object));
      case Kind::toggleButton:
        return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(object));
      case Kind::switchButton:
        return gtk_switch_get_active(GTK_SWITCH(object));
      case Kind::textField:
        return numberValue().value_or(0);
      case Kind::slider:
        return static_cast<int32_t>(gtk_range_get_value(GTK_RANGE(object)));
      case Kind::button:
      case Kind::label:
      case Kind::other:
        return 0;
    }
    return 0;
  }

  std::optional<int32_t> numberValue() const override {
    if (kind != Kind::textField) return intValue();
    return sheet::wholeNumber(gtk_editable_get_text(GTK_EDITABLE(object)));
  }

  // The theme's own look of a field in error (GTK's "error" style class).
  void setError(bool inError) override {
    if (kind != Kind::textField) return;
    if (inError) {
      gtk_widget_add_css_class(GTK_WIDGET(object), "error");
    } else {
      gtk_widget_remove_css_class(GTK_WIDGET(object), "error");
    }
  }

  void selectItemAtIndex(int32_t index) override {
    if (kind != Kind::popUp) return;
    GtkDropDown* dropDown = GTK_DROP_DOWN(object);
    GListModel* model = gtk_drop_down_get_model(dropDown);
    const guint items = model ? g_list_model_get_n_items(model) : 0;
    ++*quiet_;
    gtk_drop_down_set_selected(dropDown, index >= 0 && static_cast<guint>(index) < items
                                             ? static_cast<guint>(index)
                                             : GTK_INVALID_LIST_POSITION);
    --*quiet_;
  }

  int32_t indexOfSelectedItem() const override {
    if (kind != Kind::popUp) return -1;
    const guint selected = gtk_drop_down_get_selected(GTK_DROP_DOWN(object));
    return selected == GTK_INVALID_LIST_POSITION ? -1 : static_cast<int32_t>(selected);
  }

  GObject* object;
  Kind kind;

 private:
  int* quiet_;
};

int gLiveLoads = 0;  // GtkSheetToolkit::Load objects

}  // namespace

struct GtkSheetToolkit::Load {
  Load() { ++gLiveLoads; }
  ~Load() { --gLiveLoads; }
  Load(const Load&) = delete;
  Load& operator=(const Load&) = delete;

  GtkSheetToolkit* toolkit = nullptr;
  SheetOwner* owner = nullptr;  // none until bound, and once replaced or gone
  std::string file;
  std::vector<std::unique_ptr<Window>> windows;
  std::map<GObject*, std::unique_ptr<Control>> controls;
  // Every handler the file names.
  std::set<std::string, std::less<>> handlers;
  int quiet = 0;  // above 0 while the module itself changes a control
  // The handler of the action being sent, empty between actions: a sheet ended during the
  // owner's confirming action was confirmed.
  std::string sending;

  Window* windowFor(GObject* o) {
    for (auto& w : windows) {
      if (G_OBJECT(w->window) == o) return w.get();
    }
    windows.push_back(std::make_unique<Window>(GTK_WINDOW(o)));
    return windows.back().get();
  }
  Control* controlFor(GObject* o) {
    auto& slot = controls[o];
    if (!slot) slot = std::make_unique<Control>(o, &quiet);
    return slot.get();
  }
  void destroyWindows() {
    for (auto& w : windows) gtk_window_destroy(w->window);
  }
};

// --- actions: every handler named in the file becomes a closure that sends it to the owner ---

namespace {

// Weak: the closure lives in a widget of the load's own windows, which the load keeps alive; a
// strong reference here would keep every sheet ever opened, with all its widgets.
struct ActionData {
  std::weak_ptr<GtkSheetToolkit::Load> load;
  std::string handler;
};

void marshalAction(GClosure* closure, GValue*, guint count, const GValue* params, gpointer,
                   gpointer) {
  auto* data = static_cast<ActionData*>(closure->data);
  // Held for the action, which may end the sheet and with it the load.
  const std::shared_ptr<GtkSheetToolkit::Load> held = data->load.lock();
  if (!held) return;
  GtkSheetToolkit::Load& load = *held;
  if (load.quiet > 0 || !load.owner || count == 0) return;
  GObject* sender =
      G_VALUE_HOLDS_OBJECT(&params[0]) ? G_OBJECT(g_value_get_object(&params[0])) : nullptr;
  SheetControl* control = sender ? load.controlFor(sender) : nullptr;
  const std::string outer = std::exchange(load.sending, data->handler);
  const bool handled = load.owner->sendAction(data->handler, control);
  load.sending = outer;
  if (!handled) {
    g_warning("%s", services::formatted(services::tr("%s: the owner has no handler '%s'"),
                                        load.file.c_str(), data->handler.c_str())
                        .c_str());
  }
}

}  // namespace

G_BEGIN_DECLS
#define NIMBREL_TYPE_SHEET_SCOPE (nimbrel_sheet_scope_get_type())
G_DECLARE_FINAL_TYPE(NimbrelSheetScope, nimbrel_sheet_scope, NIMBREL, SHEET_SCOPE, GtkBuilderCScope)
G_END_DECLS

struct _NimbrelSheetScope {
  GtkBuilderCScope parent_instance;
  std::shared_ptr<GtkSheetToolkit::Load>* load;
};

static void nimbrel_sheet_scope_iface_init(GtkBuilderScopeInterface* iface);

G_DEFINE_TYPE_WITH_CODE(NimbrelSheetScope, nimbrel_sheet_scope, GTK_TYPE_BUILDER_CSCOPE,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_BUILDER_SCOPE,
                                              nimbrel_sheet_scope_iface_init))

static GClosure* createClosure(GtkBuilderScope* scope, GtkBuilder*, const char* functionName,
                               GtkBuilderClosureFlags, GObject*, GError**) {
  auto* self = NIMBREL_SHEET_SCOPE(scope);
  (*self->load)->handlers.emplace(functionName);
  auto* data = new ActionData{*self->load, functionName};
  GClosure* closure = g_closure_new_simple(sizeof(GClosure), data);
  g_closure_add_finalize_notifier(
      closure, data, [](gpointer d, GClosure*) { delete static_cast<ActionData*>(d); });
  g_closure_set_marshal(closure, marshalAction);
  return closure;
}

static void nimbrel_sheet_scope_iface_init(GtkBuilderScopeInterface* iface) {
  iface->create_closure = createClosure;
}
static void nimbrel_sheet_scope_class_init(NimbrelSheetScopeClass*) {}
static void nimbrel_sheet_scope_init(NimbrelSheetScope* self) { self->load = nullptr; }

// --- the toolkit --------------------------------------------------------------------------

GtkSheetToolkit::GtkSheetToolkit() {
  g_type_ensure(NIMBREL_TYPE_STEPPER);
  g_type_ensure(NIMBREL_TYPE_SHEET_SCOPE);
}

GtkSheetToolkit::~GtkSheetToolkit() {
  for (auto& [owner, load] : current_) {
    load->owner = nullptr;
    load->destroyWindows();
  }
}

namespace {

// Our interface files are a few kilobytes, their elements nested about ten deep. GtkBuilder and
// the widgets it makes recurse once per level: thousands of nested boxes overflow the stack, so
// a file far past what any of ours needs is refused before GTK sees it.
constexpr goffset kMaxInterfaceBytes = 1 << 20;
constexpr int kMaxInterfaceDepth = 100;

void enter(GMarkupParseContext*, const gchar*, const gchar**, const gchar**, gpointer depth,
           GError** error) {
  if (++*static_cast<int*>(depth) > kMaxInterfaceDepth) {
    g_set_error(
        error, G_MARKUP_ERROR, G_MARKUP_ERROR_INVALID_CONTENT, "%s",
        services::formatted(services::tr("elements nested more than %d deep"), kMaxInterfaceDepth)
            .c_str());
  }
}

void leave(GMarkupParseContext*, const gchar*, gpointer depth, GError**) {
  --*static_cast<int*>(depth);
}

}  // namespace

bool GtkSheetToolkit::parsesWhole(const std::string& file, std::string& whyNot) {
  gchar* contents = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  GStatBuf st;
  if (g_stat(file.c_str(), &st) == 0 && st.st_size > kMaxInterfaceBytes) {
    whyNot = services::formatted(services::tr("%s: larger than %d bytes"), file.c_str(),
                                 static_cast<int>(kMaxInterfaceBytes));
    return false;
  }
  bool whole = g_file_get_contents(file.c_str(), &contents, &length, &error);
  if (whole) {
    const GMarkupParser counter{enter, leave, nullptr, nullptr, nullptr};
    int depth = 0;
    GMarkupParseContext* context = g_markup_parse_context_new(&counter, {}, &depth, nullptr);
    whole = g_markup_parse_context_parse(context, contents, static_cast<gssize>(length), &error) &&
            g_markup_parse_context_end_parse(context, &error);
    g_markup_parse_context_free(context);
    g_free(contents);
  }
  if (!whole) {
    whyNot = file + ": " + error->message;
    g_error_free(error);
  }
  return whole;
}

void GtkSheetToolkit::nameControlsByTheirLabels(GtkBuilder* builder) {
  GSList* objects = gtk_builder_get_objects(builder);
  for (GSList* o = objects; o; o = o->next) {
    auto* accessible = static_cast<GtkAccessible*>(o->data);
    if (GTK_IS_BUTTON(o->data) && gtk_button_get_use_underline(GTK_BUTTON(o->data))) {
      gtk_accessible_reset_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL);
    } else if (GTK_IS_CHECK_BUTTON(o->data) &&
               gtk_check_button_get_use_underline(GTK_CHECK_BUTTON(o->data))) {
      PangoAttrList* marks = nullptr;
      char* shown = nullptr;
      const char* label = gtk_check_button_get_label(GTK_CHECK_BUTTON(o->data));
      if (label && pango_parse_markup(label, -1, '_', &marks, &shown, nullptr, nullptr)) {
        gtk_accessible_update_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL, shown, -1);
      }
      if (marks) pango_attr_list_unref(marks);
      g_free(shown);
    } else if (GTK_IS_LABEL(o->data)) {
      GtkWidget* target = gtk_label_get_mnemonic_widget(GTK_LABEL(o->data));
      GtkWidget* inner =
          target && GTK_IS_DROP_DOWN(target) ? gtk_widget_get_first_child(target) : nullptr;
      // References end with nothing, then the list of relations with -1.
      for (GtkWidget* named : {target, inner}) {
        if (!named) continue;
        gtk_accessible_update_relation(GTK_ACCESSIBLE(named), GTK_ACCESSIBLE_RELATION_LABELLED_BY,
                                       o->data, nullptr, -1);
      }
    }
  }
  g_slist_free(objects);
}

namespace {

// Windows made by a load that is given up would stay in the toplevel list for ever.
void discard(GtkBuilder* builder) {
  GSList* objects = gtk_builder_get_objects(builder);
  for (GSList* o = objects; o; o = o->next) {
    if (GTK_IS_WINDOW(o->data)) gtk_window_destroy(GTK_WINDOW(o->data));
  }
  g_slist_free(objects);
  g_object_unref(builder);
}

}  // namespace

bool GtkSheetToolkit::loadNibNamed(const std::string& name, SheetOwner& owner,
                                   std::string& whyNot) {
  const std::filesystem::path path = resourcePath(name + ".ui");
  if (path.empty()) {
    whyNot = services::formatted(services::tr("there is no %s.ui in the resource directories"),
                                 name.c_str());
    return false;
  }

  auto load = std::make_shared<Load>();
  load->toolkit = this;
  load->file = path.string();
  // The builder takes a file cut short as far as it goes; it must parse whole first.
  if (!parsesWhole(load->file, whyNot)) return false;
  auto* scope = NIMBREL_SHEET_SCOPE(g_object_new(NIMBREL_TYPE_SHEET_SCOPE, nullptr));
  scope->load = &load;
  GtkBuilder* builder = gtk_builder_new();
  // Its texts in the user's language, whatever the program's default domain.
  gtk_builder_set_translation_domain(builder, services::kTextDomain);
  gtk_builder_set_scope(builder, GTK_BUILDER_SCOPE(scope));
  GError* error = nullptr;
  const bool built = gtk_builder_add_from_file(builder, load->file.c_str(), &error);
  scope->load = nullptr;
  g_object_unref(scope);
  if (!built) {
    // The builder's messages usually start with the file's name, but not all of them do.
    const std::string message = error->message;
    whyNot = message.starts_with(load->file) ? message : load->file + ": " + message;
    g_error_free(error);
    discard(builder);
    return false;
  }

  nameControlsByTheirLabels(builder);
  whyNot = sheet::checkSheet(
      load->file, owner,
      [&](std::string_view id, SheetObjectKind kind) {
        sheet::SheetObjectFound found;
        GObject* o = gtk_builder_get_object(builder, std::string(id).c_str());
        if (!o) return found;
        found.exists = true;
        found.fits = fits(o, kind);
        found.className = G_OBJECT_TYPE_NAME(o);
        if (GTK_IS_DROP_DOWN(o)) {
          GListModel* model = gtk_drop_down_get_model(GTK_DROP_DOWN(o));
          found.items = model ? static_cast<int>(g_list_model_get_n_items(model)) : 0;
        }
        return found;
      },
      load->handlers);
  if (!whyNot.empty()) {
    discard(builder);
    return false;
  }

  for (const SheetOwner::Outlet& outlet : owner.sheetOutlets()) {
    GObject* o = gtk_builder_get_object(builder, std::string(outlet.name).c_str());
    if (!o) continue;
    if (auto* slot = std::get_if<SheetWindow**>(&outlet.slot)) {
      if (GTK_IS_WINDOW(o)) **slot = load->windowFor(o);
    } else if (auto* slot = std::get_if<SheetControl**>(&outlet.slot)) {
      **slot = load->controlFor(o);
    } else if (auto* slot = std::get_if<SheetPopUpButton**>(&outlet.slot)) {
      if (GTK_IS_DROP_DOWN(o)) **slot = load->controlFor(o);
    }
  }
  g_object_unref(builder);

  // A window closed by the window manager is a dismissed sheet.
  for (auto& w : load->windows) {
    g_signal_connect(w->window, "close-request", G_CALLBACK(+[](GtkWindow* window, gpointer self) {
                       auto* toolkit = static_cast<GtkSheetToolkit*>(self);
                       SheetWindow* sheet = nullptr;
                       for (auto& [owner, l] : toolkit->current_) {
                         for (auto& mine : l->windows) {
                           if (mine->window == window) sheet = mine.get();
                         }
                       }
                       if (sheet) toolkit->endSheet(sheet);
                       return TRUE;
                     }),
                     this);
  }

  if (auto old = current_.find(&owner); old != current_.end()) {
    old->second->owner = nullptr;
    old->second->destroyWindows();
  }
  load->owner = &owner;
  current_[&owner] = load;
  return true;
}

void GtkSheetToolkit::endSheet(SheetWindow* sheet) {
  auto* window = dynamic_cast<Window*>(sheet);
  if (!window) return;
  gtk_window_set_modal(window->window, false);
  gtk_widget_set_visible(GTK_WIDGET(window->window), false);
  SheetOutcome outcome = SheetOutcome::dismissed;
  for (auto& [owner, load] : current_) {
    for (auto& w : load->windows) {
      if (w.get() == window && !load->sending.empty() &&
          load->sending == owner->confirmingAction()) {
        outcome = SheetOutcome::confirmed;
      }
    }
  }
  // Told from the main loop, after the action that ended the sheet has returned: the host may
  // then replace the view that sent it.
  struct Ended {
    GtkSheetToolkit* toolkit;
    GtkWindow* window;
    SheetOutcome outcome;
  };
  auto* ended = new Ended{this, GTK_WINDOW(g_object_ref(window->window)), outcome};
  g_idle_add(
      +[](gpointer p) -> gboolean {
        auto* e = static_cast<Ended*>(p);
        // Found first, told after: the host may replace the owner, and with it the map.
        SheetWindow* sheet = nullptr;
        for (auto& [owner, load] : e->toolkit->current_) {
          for (auto& w : load->windows) {
            if (w->window == e->window) sheet = w.get();
          }
        }
        if (sheet) e->toolkit->sheetEnded(sheet, e->outcome);
        g_object_unref(e->window);
        delete e;
        return G_SOURCE_REMOVE;
      },
      ended);
}

void GtkSheetToolkit::forgetOwner(SheetOwner& owner) {
  const auto it = current_.find(&owner);
  if (it == current_.end()) return;
  it->second->owner = nullptr;
  it->second->destroyWindows();
  current_.erase(it);
}

int GtkSheetToolkit::liveLoads() { return gLiveLoads; }

GtkWindow* GtkSheetToolkit::gtkWindow(SheetWindow* sheet) {
  auto* window = dynamic_cast<Window*>(sheet);
  return window ? window->window : nullptr;
}

GObject* GtkSheetToolkit::gtkObject(SheetControl* control) {
  auto* c = dynamic_cast<Control*>(control);
  return c ? c->object : nullptr;
}

}  // namespace sheet
