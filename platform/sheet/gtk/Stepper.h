#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

// A stepper: a pair of linked "-" and "+" buttons that moves an integer position between its
// limits and shows the result in the text field it is tied to. A step starts from the number
// that the field shows, so stepping after typing continues from what was typed. Interface files
// use it as class "NimbrelStepper" and describe it with one element inside the object:
//   <stepper field="petalCountField" lower="2" upper="16" increment="1"/>
#define NIMBREL_TYPE_STEPPER (nimbrel_stepper_get_type())
G_DECLARE_FINAL_TYPE(NimbrelStepper, nimbrel_stepper, NIMBREL, STEPPER, GtkWidget)

int nimbrel_stepper_get_value(NimbrelStepper* self);
// Moves the position (clamped into the limits) without touching the field.
void nimbrel_stepper_set_value(NimbrelStepper* self, int value);
// What a click on "+" (direction 1) or "-" (direction -1) does.
void nimbrel_stepper_step(NimbrelStepper* self, int direction);

G_END_DECLS
