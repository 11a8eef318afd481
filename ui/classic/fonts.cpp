#include "ui/classic/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace tavlo {

const char *const kWindowFontFamily = "ＭＳ ゴシック";

namespace {

QStringList installedFamilies()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QFontDatabase::families();
#else
    return QFontDatabase().families();
#endif
}

} // namespace

QString WindowFontFamily()
{
    // The font is asked for by an installed name rather than through Qt's
    // substitution table: for a name it does not have, Qt has fontconfig
    // sort every installed font, once per writing system, before it tries a
    // substitute (milliseconds on the way to the first paint). The installed
    // names are looked up in Qt's own list: QFontDatabase::hasFamily() would
    // also run fontconfig's substitution for each name asked about.
    static const QString family = [] {
        const QStringList installed = installedFamilies();
        // In order of preference; fonts-ipafont-gothic is what the set-up installs.
        const QStringList candidates{QString::fromUtf8(kWindowFontFamily), QStringLiteral("IPAGothic"),
                                     QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                                     QStringLiteral("VL Gothic"), QStringLiteral("TakaoGothic")};
        for (const QString &candidate : candidates)
            if (installed.contains(candidate, Qt::CaseInsensitive))
                return candidate;
        return candidates.first();
    }();
    return family;
}

QFont WindowFont(qreal pointSize)
{
    QFont font(WindowFontFamily());
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

} // namespace tavlo
