#pragma once
// The keyboard focus ring. The chrome controls switch the platform's own ring
// off, so once the keyboard moves the focus (Tab, Shift+Tab, a mnemonic) the
// control that holds it is outlined in the accent colour, drawn over its
// window so that every control gets the same ring whatever it paints itself.
// A click hides the ring until the keyboard moves the focus again. A text
// field that outlines itself in the accent colour while focused (FlatField)
// is its own ring.
class QWidget;

namespace quarn::focusring {

// Starts following the keyboard focus of every window of the application;
// later calls do nothing.
void install();
// The control the ring surrounds now, or none.
QWidget* target();

} // namespace quarn::focusring
