#pragma once
// The program's icon on its windows.

class QWidget;

namespace tavlo {

// Sets the program's built-in icon once `window` has painted, which is all
// the start needs to show. The installed theme icon is the same picture:
// looking it up walks the icon themes' indexes (about 29 million
// instructions, several times the whole window's set-up), so the desktop
// entry names it for docks and launchers, and the window carries the built-in copy.
void SetWindowIconAfterFirstPaint(QWidget &window);

} // namespace tavlo
