#pragma once

#include <gtk/gtk.h>

#include <cstdint>

G_BEGIN_DECLS

// A stepper: a pair of linked "-" and "+" buttons that moves an integer position between its
// limits and shows the result in the text field it is tied to. A step starts from the number
// that the field shows, so stepping after typing continues from what was typed. In the field,
// Up and Down step as the buttons do, Page Up and Page Down ten times as far. Interface files
// use it as class "NimbrelStepper" and describe it with one element inside the object:
//   <stepper field="petalCountField" lower="2" upper="16" increment="1"/>
#define NIMBREL_TYPE_STEPPER (nimbrel_stepper_get_type())
G_DECLARE_FINAL_TYPE(NimbrelStepper, nimbrel_stepper, NIMBREL, STEPPER, GtkWidget)

int nimbrel_stepper_get_value(NimbrelStepper* self);
// Moves the position (clamped into the limits) without touching the field.
void nimbrel_stepper_set_value(NimbrelStepper* self, int value);
// What a click on "+" (steps 1) or "-" (steps -1) does; a key steps further.
void nimbrel_stepper_step(NimbrelStepper* self, int steps);

G_END_DECLS

namespace sheet {

// How many increments a key pressed in a stepper's field steps: Up and Down 1, Page Up and Page
// Down 10, on the keypad too; 0 for every other key.
int stepperKeySteps(guint keyval);
// Where a step of `delta` lands from the number the field shows: from `text` read as a whole
// number (or from `value` when it is none), clamped into lower..upper (upper below lower reads
// as lower).
int steppedValue(const char* text, int value, int64_t delta, int lower, int upper);

}  // namespace sheet
