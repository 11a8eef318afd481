#pragma once
// The program's icon on its windows.
#include <QString>

class QWidget;

namespace tavlo {

// Sets the icon named `name` in the icon theme (else the built-in one) once
// `window` has painted: reading the icon themes (Qt 5 walks every installed
// one) is no part of the way to the first paint.
void SetWindowIconAfterFirstPaint(QWidget &window, const QString &name);

} // namespace tavlo
