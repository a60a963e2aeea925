#pragma once
// A key pressed with Alt still carries its letter as text; a text field that
// gets one (Alt+V for a menu of another window, a mistyped accelerator)
// would insert the letter. Fields given to IgnoreAltText drop such keys; the
// accelerators of their window still work, as they are taken before the field
// sees the key.
class QWidget;

namespace fieldkeys {

void IgnoreAltText(QWidget *field);

} // namespace fieldkeys
