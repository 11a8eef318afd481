#pragma once
// The program's icon on its windows.

class QWidget;

namespace tavlo {

// Sets the program's built-in icon once `window` has painted. The installed
// theme icon is the same picture, but looking it up walks the icon themes'
// indexes: about 29 million instructions, more than a quarter of all the
// start runs. The desktop entry names the theme icon for docks and
// launchers; the window carries the built-in copy.
void SetWindowIconAfterFirstPaint(QWidget &window);

} // namespace tavlo
