#include "platform/windowactivation.h"

#include "platform/xconnection.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <qpa/qplatformnativeinterface.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <wayland-client.h>
#include <xcb/xcb.h>

#include "xdg-activation-v1-client.h"

namespace tavlo {
namespace {

struct Globals
{
    xdg_activation_v1 *activation = nullptr;
};

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *globals = static_cast<Globals *>(data);
    if (!globals->activation && std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        globals->activation =
            static_cast<xdg_activation_v1 *>(wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void onGlobalRemoved(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemoved};

void onSynced(void *data, wl_callback *callback, uint32_t)
{
    *static_cast<bool *>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener kSyncListener = {onSynced};

struct TokenReply
{
    QByteArray token;
    bool done = false;
};

void onToken(void *data, xdg_activation_token_v1 *, const char *token)
{
    auto *reply = static_cast<TokenReply *>(data);
    reply->token = QByteArray(token);
    reply->done = true;
}

const xdg_activation_token_v1_listener kTokenListener = {onToken};

// Dispatches until `done` is set; a compositor that stops answering must not
// keep a second start waiting.
bool dispatchUntil(wl_display *display, const bool &done, int timeoutMs, const QElapsedTimer &clock)
{
    while (!done) {
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                return false;
            if (done)
                return true;
        }
        wl_display_flush(display);
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        const int left = int(timeoutMs - clock.elapsed());
        if (left <= 0 || ::poll(&fd, 1, left) <= 0) {
            wl_display_cancel_read(display);
            return false;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return true;
}

bool roundTrip(wl_display *display, int timeoutMs, const QElapsedTimer &clock)
{
    bool synced = false;
    wl_callback_add_listener(wl_display_sync(display), &kSyncListener, &synced);
    return dispatchUntil(display, synced, timeoutMs, clock);
}

QByteArray requestToken(wl_display *display, const QByteArray &appId, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    TokenReply reply;
    if (roundTrip(display, timeoutMs, clock) && globals.activation) {
        xdg_activation_token_v1 *request = xdg_activation_v1_get_activation_token(globals.activation);
        xdg_activation_token_v1_add_listener(request, &kTokenListener, &reply);
        xdg_activation_token_v1_set_app_id(request, appId.constData());
        xdg_activation_token_v1_commit(request);
        dispatchUntil(display, reply.done, timeoutMs, clock);
        xdg_activation_token_v1_destroy(request);
    }
    if (globals.activation)
        xdg_activation_v1_destroy(globals.activation);
    wl_registry_destroy(registry);
    return reply.token;
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5 knows no activation tokens: the request goes out on Qt's own
// connection, on a queue of ours so that Qt's events are left to Qt.
void activateOnQtConnection(QWindow *window, const QByteArray &token)
{
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    auto *display = static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"));
    auto *surface = static_cast<wl_surface *>(native->nativeResourceForWindow("surface", window));
    if (!display || !surface)
        return;
    wl_event_queue *queue = wl_display_create_queue(display);
    auto *wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapper), queue);
    Globals globals;
    wl_registry *registry = wl_display_get_registry(wrapper);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    wl_display_roundtrip_queue(display, queue);
    if (globals.activation) {
        xdg_activation_v1_activate(globals.activation, token.constData(), surface);
        xdg_activation_v1_destroy(globals.activation);
    }
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(wrapper);
    wl_display_flush(display);
    wl_event_queue_destroy(queue);
}
#endif

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The X server's time now, read off the notice of a change to a window of
// our own: the one clock a window manager compares requests against.
xcb_timestamp_t serverTime(xcb_connection_t *connection, xcb_window_t helper)
{
    const xcb_atom_t stamp = internAtom(connection, "_TAVLO_TIMESTAMP");
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, helper, stamp, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection);
    while (xcb_generic_event_t *event = xcb_wait_for_event(connection)) {
        const bool notice = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
        const xcb_timestamp_t time = notice ? reinterpret_cast<xcb_property_notify_event_t *>(event)->time : 0;
        std::free(event);
        if (notice)
            return time;
    }
    return XCB_CURRENT_TIME;
}

void sendToRoot(xcb_connection_t *connection, xcb_window_t root, const xcb_client_message_event_t &message)
{
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
}

// On X, Qt asks for activation with the time of the last event this copy
// saw, which is older than the user's last click in another program, so a
// window manager that prevents focus stealing (mutter, KWin) would only mark
// the window. The user has just started the program again: that is now.
void sendOnX11(QWindow *window)
{
    const XConnection x;
    if (!x.ok()) {
        window->requestActivate();
        return;
    }
    xcb_connection_t *connection = x.get();
    const xcb_window_t helper = xcb_generate_id(connection);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, helper, x.root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(window->winId());
    message.type = internAtom(connection, "_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // for a direct action of the user
    message.data.data32[1] = serverTime(connection, helper);
    sendToRoot(connection, x.root(), message);
    xcb_destroy_window(connection, helper);
    xcb_flush(connection);
}

// The window that has the keyboard, as the X server says, and the one the
// window manager calls active (what the user last turned to).
struct Focus {
    xcb_window_t input = XCB_WINDOW_NONE;
    xcb_window_t active = XCB_WINDOW_NONE;
};

Focus currentFocus()
{
    const XConnection x;
    Focus focus;
    if (!x.ok())
        return focus;
    xcb_connection_t *connection = x.get();
    const xcb_get_input_focus_cookie_t input = xcb_get_input_focus(connection);
    const xcb_get_property_cookie_t active = xcb_get_property(
        connection, 0, x.root(), internAtom(connection, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1);
    if (xcb_get_input_focus_reply_t *reply = xcb_get_input_focus_reply(connection, input, nullptr)) {
        focus.input = reply->focus;
        std::free(reply);
    }
    if (xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, active, nullptr)) {
        if (xcb_get_property_value_length(reply) == sizeof(xcb_window_t))
            focus.active = *static_cast<xcb_window_t *>(xcb_get_property_value(reply));
        std::free(reply);
    }
    return focus;
}

// mutter at times drops an activation without a word (while it minimises
// the window, and for seconds on end while a busy machine holds it up), KWin
// when it has just given the keyboard to a window that a dialog blocks: the
// request is repeated until the window (or, with `anyOfOurs`, any window of
// the program) has the keyboard, for as long as a slow desktop may take,
// but never once the user has turned elsewhere.
void activateOnX11(QWindow *window, bool anyOfOurs, xcb_window_t wasActive, bool sendNow = true)
{
    // A second start asks while another program has the keyboard, and stops
    // once the desktop has made another window active; a dialog asks in
    // place of a window of ours, and stops once the user has turned to
    // another program.
    const auto stillWanted = [window, anyOfOurs, wasActive] {
        const Focus focus = currentFocus();
        const QWindowList ours = QGuiApplication::topLevelWindows();
        const auto isOurs = [&ours](xcb_window_t w) {
            return std::any_of(ours.begin(), ours.end(), [w](QWindow *o) { return o->winId() == w; });
        };
        return anyOfOurs ? !isOurs(focus.input) && (focus.active == wasActive || isOurs(focus.active))
                         : isOurs(focus.input) && focus.input != xcb_window_t(window->winId());
    };
    // Lives as long as the repeats; they end with it.
    auto *attempt = new QObject(window);
    if (anyOfOurs) {
        // Once the program has had the keyboard, where it goes next is the
        // user's choice. A dialog's repeats go on all the same: stopped once
        // the dialog had the keyboard, they left it with the blocked window
        // on KWin in some runs.
        const auto arrived = [attempt](QWindow *now) {
            if (now)
                attempt->deleteLater();
        };
        QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, attempt, arrived);
        arrived(QGuiApplication::focusWindow());
    }
    if (sendNow)
        sendOnX11(window);
    // Quick at first; then every two seconds, for as long as a desktop held
    // up by a busy machine was seen to drop requests (16 seconds).
    std::vector<int> repeats{300, 700, 1200, 2000, 3000, 4500};
    while (repeats.back() < 30000)
        repeats.push_back(repeats.back() + 2000);
    for (const int ms : repeats)
        QTimer::singleShot(ms, attempt, [attempt, window, anyOfOurs, stillWanted, ms, last = repeats.back()] {
            if (stillWanted())
                sendOnX11(window);
            else if (anyOfOurs)
                return attempt->deleteLater(); // it came, or the user turned elsewhere
            if (ms == last)
                attempt->deleteLater();
        });
}

} // namespace

QByteArray ActivationTokenForAnotherCopy(const QByteArray &appId, int timeoutMs)
{
    // Launchers hand the token over in either variable (GNOME Shell 43 with
    // GLib 2.74 only in the older one, which on X names the start instead).
    QByteArray given = qgetenv("XDG_ACTIVATION_TOKEN");
    if (given.isEmpty())
        given = qgetenv("DESKTOP_STARTUP_ID");
    if (!given.isEmpty())
        return IsUsableToken(given) ? given : QByteArray();
    // A token asked for while the program runs through XWayland would stay
    // unused, and the desktop would show "starting" until it expired.
    if ((qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_SOCKET"))
        || qgetenv("QT_QPA_PLATFORM").startsWith("xcb"))
        return QByteArray();
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return QByteArray();
    const QByteArray token = requestToken(display, appId, timeoutMs);
    wl_display_disconnect(display);
    return IsUsableToken(token) ? token : QByteArray();
}

void ActivateWindow(QWindow *window, const QByteArray &token, Until until)
{
    if (!window)
        return;
    // On X the activation raises the window. A raise of its own would reach
    // mutter first, be refused and mark the window, and while the Shell
    // shows that mark it drops the activation.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        activateOnX11(window, until == Until::AnyOfOurs, currentFocus().active);
        return;
    }
    window->raise();
    if (token.isEmpty() || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        window->requestActivate();
        return;
    }
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 activates with the token of this variable, once.
    qputenv("XDG_ACTIVATION_TOKEN", token);
    window->requestActivate();
#else
    activateOnQtConnection(window, token);
#endif
}

unsigned ActiveWindowNow()
{
    return qEnvironmentVariableIsEmpty("DISPLAY") ? 0 : currentFocus().active;
}

void ActivateShownAtStart(QWindow *window, unsigned activeAtStart)
{
    // The desktop decides first; only what it left behind is asked for.
    if (window && activeAtStart && QGuiApplication::platformName() == QLatin1String("xcb"))
        activateOnX11(window, true, activeAtStart, false);
}

bool IsUsableToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > 256)
        return false;
    for (const char c : token) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

} // namespace tavlo
