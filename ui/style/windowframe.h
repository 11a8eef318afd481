#pragma once
// How the program's windows are framed by the window manager.
class QWidget;

namespace tavlo {

// A modal dialog or message box: a title and a close box, nothing that could
// minimise it out of sight while it blocks its owner.
void UseDialogFrame(QWidget *dialog);

// The main window: its size is fixed, so it may be minimised but not
// maximised.
void UseMainWindowFrame(QWidget *window);

// Moves a window that is about to be shown so that its frame is centred on
// its owner's frame. Frame extents are not known before the window manager
// has framed the window; the owner's are taken, since both are decorated
// alike.
void CentreOnOwner(QWidget *window, bool followWhilePlaced = true);

} // namespace tavlo
