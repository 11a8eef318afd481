#include "ui/classic/keycodes.h"

#include <QKeyEvent>

namespace tavlo {

int VirtualKeyCode(const QKeyEvent *event)
{
    // Only the keys some handler looks at; any other is 0.
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key; // Qt and the virtual-key table agree on letters
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return vbKeyReturn;
    case Qt::Key_Shift: return vbKeyShift;
    case Qt::Key_Control: return vbKeyControl;
    case Qt::Key_Alt: return vbKeyMenu;
    case Qt::Key_Delete: return vbKeyDelete;
    default: return 0;
    }
}

int ShiftState(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers m = event->modifiers();
    int mask = 0;
    if (m & Qt::ShiftModifier)
        mask |= vbShiftMask;
    if (m & Qt::ControlModifier)
        mask |= vbCtrlMask;
    if (m & Qt::AltModifier)
        mask |= vbAltMask;
    return mask;
}

} // namespace tavlo
