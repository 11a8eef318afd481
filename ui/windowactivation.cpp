#include "ui/windowactivation.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <qpa/qplatformnativeinterface.h>
#endif

#include <cstring>
#include <poll.h>
#include <wayland-client.h>

#include "xdg-activation-v1-client.h"

namespace tavlo {
namespace {

struct Globals
{
    xdg_activation_v1 *activation = nullptr;
};

void OnGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto *globals = static_cast<Globals *>(data);
    if (!globals->activation && std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        globals->activation =
            static_cast<xdg_activation_v1 *>(wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void OnGlobalRemoved(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemoved};

void OnSynced(void *data, wl_callback *callback, uint32_t)
{
    *static_cast<bool *>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener kSyncListener = {OnSynced};

struct TokenReply
{
    QByteArray token;
    bool done = false;
};

void OnToken(void *data, xdg_activation_token_v1 *, const char *token)
{
    auto *reply = static_cast<TokenReply *>(data);
    reply->token = QByteArray(token);
    reply->done = true;
}

const xdg_activation_token_v1_listener kTokenListener = {OnToken};

// Dispatches until `done` is set; a compositor that stops answering must not
// keep a second start waiting.
bool DispatchUntil(wl_display *display, const bool &done, int timeoutMs, const QElapsedTimer &clock)
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

bool Sync(wl_display *display, int timeoutMs, const QElapsedTimer &clock)
{
    bool synced = false;
    wl_callback_add_listener(wl_display_sync(display), &kSyncListener, &synced);
    return DispatchUntil(display, synced, timeoutMs, clock);
}

QByteArray RequestToken(wl_display *display, const QByteArray &appId, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    Globals globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistryListener, &globals);
    TokenReply reply;
    if (Sync(display, timeoutMs, clock) && globals.activation) {
        xdg_activation_token_v1 *request = xdg_activation_v1_get_activation_token(globals.activation);
        xdg_activation_token_v1_add_listener(request, &kTokenListener, &reply);
        xdg_activation_token_v1_set_app_id(request, appId.constData());
        xdg_activation_token_v1_commit(request);
        DispatchUntil(display, reply.done, timeoutMs, clock);
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
void ActivateOnQtConnection(QWindow *window, const QByteArray &token)
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

} // namespace

QByteArray ActivationTokenForAnotherCopy(const QByteArray &appId, int timeoutMs)
{
    const QByteArray given = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!given.isEmpty())
        return IsUsableToken(given) ? given : QByteArray();
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_SOCKET"))
        return QByteArray();
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return QByteArray();
    const QByteArray token = RequestToken(display, appId, timeoutMs);
    wl_display_disconnect(display);
    return IsUsableToken(token) ? token : QByteArray();
}

void ActivateWindow(QWidget *window, const QByteArray &token)
{
    QWindow *handle = window->windowHandle();
    if (token.isEmpty() || !handle || !QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        window->activateWindow();
        return;
    }
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 activates with the token of this variable, once.
    qputenv("XDG_ACTIVATION_TOKEN", token);
    handle->requestActivate();
#else
    ActivateOnQtConnection(handle, token);
#endif
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
