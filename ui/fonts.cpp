#include "ui/fonts.h"

#include <QStringList>

namespace tavlo {

const char *const kWindowFontFamily = "ＭＳ ゴシック";

void InstallFontSubstitutes()
{
    // In order of preference; fonts-ipafont-gothic is what the set-up installs.
    QFont::insertSubstitutions(QString::fromUtf8(kWindowFontFamily),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                                QStringLiteral("Noto Sans Mono CJK JP"),
                                QStringLiteral("VL Gothic"), QStringLiteral("TakaoGothic")});
}

QFont WindowFont(qreal pointSize)
{
    QFont font(QString::fromUtf8(kWindowFontFamily));
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

} // namespace tavlo
