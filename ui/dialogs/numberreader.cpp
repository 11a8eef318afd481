#include "ui/dialogs/numberreader.h"

#include <QByteArray>
#include <cmath>

namespace tavlo {
namespace {

// ASCII digits, and the full-width ones a Japanese input method types.
int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= 0xFF10 && u <= 0xFF19)
        return u - 0xFF10;
    return -1;
}

} // namespace

std::optional<qint16> ReadBoxNumber(const QString &text)
{
    int i = 0;
    const int n = int(text.size());
    while (i < n && (text[i] == u' ' || text[i] == u'\t' || text[i] == QChar(0x3000)))
        ++i;

    // Rebuilt in ASCII so that the C-locale conversion reads it.
    QByteArray number;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        number += char(text[i++].unicode());
    bool anyDigit = false;
    for (; i < n && digitValue(text[i]) >= 0; ++i, anyDigit = true)
        number += char('0' + digitValue(text[i]));
    if (i < n && text[i] == u'.') {
        number += '.';
        for (++i; i < n && digitValue(text[i]) >= 0; ++i, anyDigit = true)
            number += char('0' + digitValue(text[i]));
    }
    if (!anyDigit)
        return qint16(0);
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        int j = i + 1;
        QByteArray exponent("e");
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += char(text[j++].unicode());
        bool expDigit = false;
        for (; j < n && digitValue(text[j]) >= 0; ++j, expDigit = true)
            exponent += char('0' + digitValue(text[j]));
        if (expDigit)
            number += exponent;
    }

    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value);
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return qint16(rounded);
}

} // namespace tavlo
