#pragma once
// Which of the session's display servers the program talks to.
#include <QByteArray>

#include <functional>

namespace tavlo {

// The Qt platform to use where the user has not chosen one: "xcb" in a
// Wayland session of GNOME or KDE that also offers X (XWayland), else empty
// for Qt's own choice. There, mutter 43 and KWin 5.27 give a window asking
// over Wayland only a mark, never the keyboard, so a second start could not
// bring the running copy forward; mutter leaves Qt to draw its own frames
// (with a maximise button on every window) and neither attaches or raises a
// modal dialog over its owner. Over X both do all of it.
// Only where that X server answers: a session whose DISPLAY names none
// (left over from another session) still shows the window over Wayland.
QByteArray PreferredPlatform(const QByteArray &chosen, const QByteArray &sessionType,
                             const QByteArray &currentDesktop, const QByteArray &x11Display,
                             const std::function<bool()> &xServerAnswers);

// Applies the preference to this process's environment, before the
// application object is made.
void PreferDisplayServer();

// Makes Qt 5 scale whole windows on high-DPI screens as Qt 6 does; before
// the application object is made.
void EnableHighDpiScaling();

} // namespace tavlo
