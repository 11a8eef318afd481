#include "ui/classic/keycodes.h"

#include <QKeyEvent>

namespace tavlo {

int VirtualKeyCode(const QKeyEvent *event)
{
    const int key = event->key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key; // Qt and the virtual-key table agree on letters and digits
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Backspace: return vbKeyBack;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return vbKeyTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return vbKeyReturn;
    case Qt::Key_Shift: return vbKeyShift;
    case Qt::Key_Control: return vbKeyControl;
    case Qt::Key_Alt: return vbKeyMenu;
    case Qt::Key_Escape: return vbKeyEscape;
    case Qt::Key_Space: return vbKeySpace;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Insert: return 45;
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
