// What watch needs of the terminal: whether standard output is one that takes in-place updates
// (cursor movement, line clearing), and Ctrl-C as a request to stop.
#pragma once

namespace tavhost {

// Whether standard output is a terminal that redraws in place; prepares it for that (Windows
// consoles need the escape sequences switched on).
bool PrepareTerminal();

// From now on Ctrl-C (SIGINT) sets Interrupted() rather than ending the program, until
// ReleaseInterrupt() gives it back its usual effect.
void CatchInterrupt();
bool Interrupted();
void ReleaseInterrupt();
// SIGTERM, too, sets Interrupted() from now on (until ReleaseInterrupt()): a service's stop.
void CatchTermination();

}  // namespace tavhost
