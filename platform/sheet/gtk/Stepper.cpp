#include "sheet/gtk/Stepper.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "services/Translate.h"
#include "sheet/Sheet.h"

struct _NimbrelStepper {
  GtkWidget parent_instance;
  GtkWidget* down;
  GtkWidget* up;
  GtkWidget* field;          // a GtkEditable, or nothing
  GtkEventController* keys;  // on the field, stepping on its keys
  // The field's id from the <stepper> element, until every object of the file exists. Kept
  // here rather than in the parser's data, which nothing frees when the file fails to build.
  char* fieldId;
  int lower, upper, increment, value;
};

static void nimbrel_stepper_buildable_init(GtkBuildableIface* iface);

G_DEFINE_TYPE_WITH_CODE(NimbrelStepper, nimbrel_stepper, GTK_TYPE_WIDGET,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_BUILDABLE, nimbrel_stepper_buildable_init))

namespace {

GtkBuildableIface* parentBuildable = nullptr;
constexpr char kTag[] = "stepper";

void dispose(GObject* object) {
  auto* self = NIMBREL_STEPPER(object);
  g_clear_pointer(&self->down, gtk_widget_unparent);
  g_clear_pointer(&self->up, gtk_widget_unparent);
  // The field may have gone first, its controllers with it: ours is held until here.
  if (self->keys && gtk_event_controller_get_widget(self->keys) == self->field) {
    gtk_widget_remove_controller(self->field, self->keys);
  }
  g_clear_object(&self->keys);
  g_clear_object(&self->field);
  g_clear_pointer(&self->fieldId, g_free);
  G_OBJECT_CLASS(nimbrel_stepper_parent_class)->dispose(object);
}

void onDown(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), -1); }
void onUp(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), 1); }

// Before the field's own handling, which would move the cursor or the focus on these keys.
gboolean onKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer self) {
  const int steps = sheet::stepperKeySteps(keyval);
  if (steps == 0 || (state & (GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK))) return FALSE;
  nimbrel_stepper_step(NIMBREL_STEPPER(self), steps);
  return TRUE;
}

// The buttons say what they do, and which field they change.
void tieButtons(NimbrelStepper* self) {
  for (GtkWidget* button : {self->down, self->up}) {
    // References end with nothing, then the list of relations with -1.
    gtk_accessible_update_relation(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_RELATION_CONTROLS,
                                   self->field, nullptr, -1);
  }
  self->keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(self->keys, GTK_PHASE_CAPTURE);
  g_signal_connect(self->keys, "key-pressed", G_CALLBACK(onKey), self);
  gtk_widget_add_controller(self->field, GTK_EVENT_CONTROLLER(g_object_ref(self->keys)));
}

// --- the <stepper> element of an interface file ---

void tagStart(GtkBuildableParseContext*, const char* element, const char** names,
              const char** values, gpointer data, GError**) {
  if (std::strcmp(element, kTag) != 0) return;
  auto* self = static_cast<NimbrelStepper*>(data);
  for (int i = 0; names[i]; ++i) {
    const int number = sheet::wholeNumber(values[i]).value_or(0);
    if (std::strcmp(names[i], "field") == 0) {
      g_free(self->fieldId);
      self->fieldId = g_strdup(values[i]);
    }
    if (std::strcmp(names[i], "lower") == 0) self->lower = number;
    if (std::strcmp(names[i], "upper") == 0) self->upper = number;
    if (std::strcmp(names[i], "increment") == 0) self->increment = std::max(1, number);
  }
}

const GtkBuildableParser kTagParser = {tagStart, nullptr, nullptr, nullptr, {}};

gboolean customTagStart(GtkBuildable* buildable, GtkBuilder* builder, GObject* child,
                        const char* tagname, GtkBuildableParser* parser, gpointer* data) {
  if (std::strcmp(tagname, kTag) != 0) {
    return parentBuildable->custom_tag_start(buildable, builder, child, tagname, parser, data);
  }
  *parser = kTagParser;
  *data = buildable;
  return TRUE;
}

void customTagEnd(GtkBuildable* buildable, GtkBuilder* builder, GObject* child, const char* tagname,
                  gpointer data) {
  if (std::strcmp(tagname, kTag) != 0 && parentBuildable->custom_tag_end) {
    parentBuildable->custom_tag_end(buildable, builder, child, tagname, data);
  }
}

// The field may come later in the file: it is looked up once every object exists.
void customFinished(GtkBuildable* buildable, GtkBuilder* builder, GObject* child,
                    const char* tagname, gpointer data) {
  if (std::strcmp(tagname, kTag) != 0) {
    if (parentBuildable->custom_finished) {
      parentBuildable->custom_finished(buildable, builder, child, tagname, data);
    }
    return;
  }
  auto* self = static_cast<NimbrelStepper*>(data);
  const char* id = self->fieldId ? self->fieldId : "";
  GObject* field = gtk_builder_get_object(builder, id);
  if (field && GTK_IS_EDITABLE(field)) {
    g_set_object(&self->field, GTK_WIDGET(field));
    tieButtons(self);
  } else {
    g_warning("%s", services::formatted(services::tr("stepper: no text field '%s'"), id).c_str());
  }
  g_clear_pointer(&self->fieldId, g_free);
}

}  // namespace

static void nimbrel_stepper_buildable_init(GtkBuildableIface* iface) {
  parentBuildable = static_cast<GtkBuildableIface*>(g_type_interface_peek_parent(iface));
  iface->custom_tag_start = customTagStart;
  iface->custom_tag_end = customTagEnd;
  iface->custom_finished = customFinished;
}

static void nimbrel_stepper_class_init(NimbrelStepperClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = dispose;
  GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
  gtk_widget_class_set_layout_manager_type(widget, GTK_TYPE_BOX_LAYOUT);
  gtk_widget_class_set_css_name(widget, "stepper");
  gtk_widget_class_set_accessible_role(widget, GTK_ACCESSIBLE_ROLE_GROUP);
}

static void nimbrel_stepper_init(NimbrelStepper* self) {
  self->lower = 0;
  self->upper = 100;
  self->increment = 1;
  gtk_widget_add_css_class(GTK_WIDGET(self), "linked");
  self->down = gtk_button_new_from_icon_name("value-decrease-symbolic");
  self->up = gtk_button_new_from_icon_name("value-increase-symbolic");
  for (auto [button, name] : {std::pair{self->down, services::tr("Decrease")},
                              std::pair{self->up, services::tr("Increase")}}) {
    gtk_widget_set_tooltip_text(button, name);
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
    // Not by its icon, which GTK names by its type.
    gtk_accessible_reset_relation(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_RELATION_LABELLED_BY);
  }
  gtk_widget_set_parent(self->down, GTK_WIDGET(self));
  gtk_widget_set_parent(self->up, GTK_WIDGET(self));
  g_signal_connect(self->down, "clicked", G_CALLBACK(onDown), self);
  g_signal_connect(self->up, "clicked", G_CALLBACK(onUp), self);
}

int nimbrel_stepper_get_value(NimbrelStepper* self) { return self->value; }

void nimbrel_stepper_set_value(NimbrelStepper* self, int value) {
  self->value = std::clamp(value, self->lower, std::max(self->lower, self->upper));
}

void nimbrel_stepper_step(NimbrelStepper* self, int steps) {
  self->value =
      sheet::steppedValue(self->field ? gtk_editable_get_text(GTK_EDITABLE(self->field)) : nullptr,
                          self->value, int64_t{steps} * self->increment, self->lower, self->upper);
  if (self->field) {
    gtk_editable_set_text(GTK_EDITABLE(self->field), std::to_string(self->value).c_str());
  }
}

namespace sheet {

int stepperKeySteps(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      return 1;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      return -1;
    case GDK_KEY_Page_Up:
    case GDK_KEY_KP_Page_Up:
      return 10;
    case GDK_KEY_Page_Down:
    case GDK_KEY_KP_Page_Down:
      return -10;
    default:
      return 0;
  }
}

int steppedValue(const char* text, int value, int64_t delta, int lower, int upper) {
  const int64_t base = (text ? wholeNumber(text) : std::nullopt).value_or(value);
  return static_cast<int>(std::clamp<int64_t>(base + delta, lower, std::max(lower, upper)));
}

}  // namespace sheet
