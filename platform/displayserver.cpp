#include "platform/displayserver.h"

#include <QList>
#include <QtGlobal>

namespace tavlo {

QByteArray PreferredPlatform(const QByteArray &chosen, const QByteArray &sessionType,
                             const QByteArray &currentDesktop, const QByteArray &x11Display)
{
    if (!chosen.isEmpty() || sessionType != "wayland" || x11Display.isEmpty())
        return QByteArray();
    // A colon-separated list, such as "ubuntu:GNOME" or "KDE".
    for (const QByteArray &desktop : currentDesktop.split(':'))
        if (desktop.compare("GNOME", Qt::CaseInsensitive) == 0 || desktop.compare("KDE", Qt::CaseInsensitive) == 0)
            return "xcb";
    return QByteArray();
}

void PreferDisplayServer()
{
    const QByteArray platform = PreferredPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("XDG_SESSION_TYPE"),
                                                  qgetenv("XDG_CURRENT_DESKTOP"), qgetenv("DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

} // namespace tavlo
