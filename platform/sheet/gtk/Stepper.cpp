#include "sheet/gtk/Stepper.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "sheet/Sheet.h"

struct _NimbrelStepper {
  GtkWidget parent_instance;
  GtkWidget* down;
  GtkWidget* up;
  GtkWidget* field;  // a GtkEditable, or nothing
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
  g_clear_object(&self->field);
  g_clear_pointer(&self->fieldId, g_free);
  G_OBJECT_CLASS(nimbrel_stepper_parent_class)->dispose(object);
}

void onDown(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), -1); }
void onUp(GtkButton*, gpointer self) { nimbrel_stepper_step(NIMBREL_STEPPER(self), 1); }

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
  } else {
    g_warning("stepper: no text field '%s'", id);
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
  self->value = std::clamp(value, self->lower, std::max(self->lower, self->upper));
}

void nimbrel_stepper_step(NimbrelStepper* self, int direction) {
  const int base = self->field
                       ? sheet::wholeNumber(gtk_editable_get_text(GTK_EDITABLE(self->field)))
                             .value_or(self->value)
                       : self->value;
  const int64_t next = int64_t{base} + int64_t{direction} * self->increment;
  nimbrel_stepper_set_value(self, static_cast<int>(std::clamp<int64_t>(next, G_MININT, G_MAXINT)));
  if (self->field) {
    gtk_editable_set_text(GTK_EDITABLE(self->field), std::to_string(self->value).c_str());
  }
}
