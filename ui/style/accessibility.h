#pragma once
// What screen readers are told about the windows beyond what Qt says.
namespace tavlo {

// The main window is a frame (Qt reports a plain widget as a filler), and
// modal dialogs and message boxes say that they are modal. Once, before the
// first window.
void InstallAccessibility();

} // namespace tavlo
