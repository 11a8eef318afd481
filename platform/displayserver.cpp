#include "platform/displayserver.h"

#include "platform/xconnection.h"

#include <QGuiApplication>
#include <QtGlobal>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <cstdlib>
#endif

namespace tavlo {

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
namespace {

// Whether the X desktop sets the font resolution (Xft.dpi), which is what
// says how much a high-DPI screen scales. Without it Qt 6 takes 96 dots per
// inch, Qt 5 the screen's physical size, which many X servers give wrongly
// (Xvfb says 100): the classic build would draw at 1.04 where the other
// draws at 1. One look at the root window's resources, before Qt connects.
bool desktopSetsFontResolution()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return true; // not X: nothing to correct
    const XConnection x;
    bool set = true;
    if (x.ok()) {
        const xcb_get_property_cookie_t cookie =
            xcb_get_property(x.get(), 0, x.root(), XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 16);
        if (xcb_get_property_reply_t *reply = xcb_get_property_reply(x.get(), cookie, nullptr)) {
            const QByteArray resources(static_cast<const char *>(xcb_get_property_value(reply)),
                                       xcb_get_property_value_length(reply));
            set = resources.startsWith("Xft.dpi:") || resources.contains("\nXft.dpi:");
            std::free(reply);
        }
    }
    return set;
}

} // namespace
#endif


QByteArray PreferredPlatform(const QByteArray &chosen, const QByteArray &sessionType,
                             const QByteArray &currentDesktop, const QByteArray &x11Display,
                             const std::function<bool()> &xServerAnswers)
{
    if (!chosen.isEmpty() || sessionType != "wayland" || x11Display.isEmpty())
        return QByteArray();
    // A colon-separated list, such as "ubuntu:GNOME" or "KDE".
    for (const QByteArray &desktop : currentDesktop.split(':'))
        if (desktop.compare("GNOME", Qt::CaseInsensitive) == 0 || desktop.compare("KDE", Qt::CaseInsensitive) == 0)
            return xServerAnswers() ? QByteArray("xcb") : QByteArray();
    return QByteArray();
}

void PreferDisplayServer()
{
    const auto xServerAnswers = [] { return XConnection().ok(); };
    const QByteArray platform = PreferredPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"),
                                                  qgetenv("XDG_CURRENT_DESKTOP"), qgetenv("DISPLAY"), xServerAnswers);
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

void EnableHighDpiScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    if (qEnvironmentVariableIsEmpty("QT_FONT_DPI") && !desktopSetsFontResolution())
        qputenv("QT_FONT_DPI", "96");
    // Qt 6 scales the whole window on high-DPI screens, by the exact factor;
    // Qt 5 only grows the fonts, which the fixed layout cannot hold.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}

} // namespace tavlo
