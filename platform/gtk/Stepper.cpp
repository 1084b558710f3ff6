#include "Stepper.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "Sheet.h"

struct _NimbrelStepper {
  GtkWidget parent_instance;
  GtkWidget* down;
  GtkWidget* up;
  GtkWidget* field;  // a GtkEditable, or nothing
  int lower, upper, increment, value;
};

G_DEFINE_TYPE(NimbrelStepper, nimbrel_stepper, GTK_TYPE_WIDGET)

namespace {

enum { PROP_0, PROP_FIELD, PROP_LOWER, PROP_UPPER, PROP_INCREMENT, PROP_VALUE, N_PROPS };
GParamSpec* properties[N_PROPS];

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = NIMBREL_STEPPER(object);
  switch (id) {
    case PROP_FIELD: g_set_object(&self->field, GTK_WIDGET(g_value_get_object(value))); break;
    case PROP_LOWER: self->lower = g_value_get_int(value); break;
    case PROP_UPPER: self->upper = g_value_get_int(value); break;
    case PROP_INCREMENT: self->increment = g_value_get_int(value); break;
    case PROP_VALUE: nimbrel_stepper_set_value(self, g_value_get_int(value)); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = NIMBREL_STEPPER(object);
  switch (id) {
    case PROP_FIELD: g_value_set_object(value, self->field); break;
    case PROP_LOWER: g_value_set_int(value, self->lower); break;
    case PROP_UPPER: g_value_set_int(value, self->upper); break;
    case PROP_INCREMENT: g_value_set_int(value, self->increment); break;
    case PROP_VALUE: g_value_set_int(value, self->value); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void dispose(GObject* object) {
  auto* self = NIMBREL_STEPPER(object);
  g_clear_pointer(&self->down, gtk_widget_unparent);
  g_clear_pointer(&self->up, gtk_widget_unparent);
  g_clear_object(&self->field);
  G_OBJECT_CLASS(nimbrel_stepper_parent_class)->dispose(object);
}

void onDown(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), -1); }
void onUp(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), 1); }

}  // namespace

static void nimbrel_stepper_class_init(NimbrelStepperClass* klass) {
  GObjectClass* object = G_OBJECT_CLASS(klass);
  object->set_property = setProperty;
  object->get_property = getProperty;
  object->dispose = dispose;
  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
  properties[PROP_FIELD] =
      g_param_spec_object("field", nullptr, nullptr, GTK_TYPE_WIDGET, flags);
  properties[PROP_LOWER] = g_param_spec_int("lower", nullptr, nullptr, G_MININT, G_MAXINT, 0, flags);
  properties[PROP_UPPER] =
      g_param_spec_int("upper", nullptr, nullptr, G_MININT, G_MAXINT, 100, flags);
  properties[PROP_INCREMENT] =
      g_param_spec_int("increment", nullptr, nullptr, 1, G_MAXINT, 1, flags);
  properties[PROP_VALUE] = g_param_spec_int("value", nullptr, nullptr, G_MININT, G_MAXINT, 0, flags);
  g_object_class_install_properties(object, N_PROPS, properties);

  GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
  gtk_widget_class_set_layout_manager_type(widget, GTK_TYPE_BOX_LAYOUT);
  gtk_widget_class_set_css_name(widget, "stepper");
}

static void nimbrel_stepper_init(NimbrelStepper* self) {
  self->lower = 0;
  self->upper = 100;
  self->increment = 1;
  gtk_widget_add_css_class(GTK_WIDGET(self), "linked");
  self->down = gtk_button_new_from_icon_name("value-decrease-symbolic");
  self->up = gtk_button_new_from_icon_name("value-increase-symbolic");
  gtk_widget_set_tooltip_text(self->down, "Less");
  gtk_widget_set_tooltip_text(self->up, "More");
  gtk_widget_set_parent(self->down, GTK_WIDGET(self));
  gtk_widget_set_parent(self->up, GTK_WIDGET(self));
  g_signal_connect(self->down, "clicked", G_CALLBACK(onDown), self);
  g_signal_connect(self->up, "clicked", G_CALLBACK(onUp), self);
}

int nimbrel_stepper_get_value(NimbrelStepper* self) { return self->value; }

void nimbrel_stepper_set_value(NimbrelStepper* self, int value) {
  const int clamped = std::clamp(value, self->lower, std::max(self->lower, self->upper));
  if (clamped == self->value) return;
  self->value = clamped;
  g_object_notify_by_pspec(G_OBJECT(self), properties[PROP_VALUE]);
}

void nimbrel_stepper_step(NimbrelStepper* self, int direction) {
  const bool hasField = self->field && GTK_IS_EDITABLE(self->field);
  const int base =
      hasField ? platform::leadingInteger(gtk_editable_get_text(GTK_EDITABLE(self->field)))
               : self->value;
  const int64_t next = int64_t{base} + int64_t{direction} * self->increment;
  nimbrel_stepper_set_value(self, static_cast<int>(std::clamp<int64_t>(next, G_MININT, G_MAXINT)));
  if (hasField) {
    gtk_editable_set_text(GTK_EDITABLE(self->field), std::to_string(self->value).c_str());
  }
}
