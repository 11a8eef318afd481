#pragma once
// Bringing a window forward. On X11 a program may activate its own window; a
// Wayland desktop activates a window only with a token it issued, to a
// launcher or to a program the user just started. A second start passes its
// token to the running copy, which activates with it (xdg-activation-v1).
#include <QByteArray>

class QWindow;

namespace tavlo {

// The token this start came with (XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID,
// set by the desktop's launcher), else one asked of the Wayland compositor for
// `appId`. Empty outside Wayland or when the compositor gives none; waits at
// most `timeoutMs` for it.
QByteArray ActivationTokenForAnotherCopy(const QByteArray &appId, int timeoutMs = 500);

// Raises and activates `window`; on Wayland with `token` where there is
// one. On X the request is repeated for a moment until the window (or, by
// default, any window of the program) has the keyboard.
enum class Until { AnyOfOurs, ThisWindow };
void ActivateWindow(QWindow *window, const QByteArray &token, Until until = Until::AnyOfOurs);

// The window the desktop called active as the program started (X only; 0
// elsewhere). Any thread may ask, before the first window shows.
unsigned ActiveWindowNow();

// A window shown at start that a slow desktop left without the keyboard is
// asked for, as after a second start, while the user has not turned to
// another window since `activeAtStart` (X only).
void ActivateShownAtStart(QWindow *window, unsigned activeAtStart);

// What a token may hold when it comes over the socket: printable ASCII, no
// spaces, not too long. The compositor compares it as it is.
bool IsUsableToken(const QByteArray &token);

} // namespace tavlo
