#pragma once
// The desktop's wish for less motion, read once for the whole application, in
// the background, when it starts; animations that would shake or slide ask here.
namespace quarn::motion {

// Starts reading the desktop's setting once the first window has had time to
// show (the event loop must run); later calls do nothing.
void readAtStart();
// Reads the setting again now, blocking (tests change the desktop's setting).
void readNow();
// True when the desktop asks for less motion; false until the setting is known.
bool reduced();

} // namespace quarn::motion
