#pragma once
// The keyboard handlers see a key as a virtual-key code and a modifier mask.
class QKeyEvent;

namespace tavlo {

enum VirtualKey {
    vbKeyReturn = 13,
    vbKeyShift = 16,
    vbKeyControl = 17,
    vbKeyMenu = 18,
    vbKeyDelete = 46,
    vbKeyA = 65,
    vbKeyS = 83,
};

enum ShiftMask { vbShiftMask = 1, vbCtrlMask = 2, vbAltMask = 4 };

// The virtual-key code of the event's key, for the keys the handlers look
// at (letters, Return, Delete, the modifiers); 0 for any other. Return
// and the keypad's Enter are both 13.
int VirtualKeyCode(const QKeyEvent *event);

// Shift 1, Ctrl 2, Alt 4; other modifiers (the keypad flag, Meta) do not count.
int ShiftState(const QKeyEvent *event);

} // namespace tavlo
