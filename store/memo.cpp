#include "store/memo.h"

#include "store/codepage.h"

namespace tavlo {

QString EncodeMemo(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') {
            out += QChar(kLineBreakMarker);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

QString DecodeMemo(const QString &value)
{
    QString out = value;
    out.replace(QChar(kLineBreakMarker), QStringLiteral("\r\n"));
    return out;
}

MemoSize MeasureMemo(const QString &value)
{
    const Cp932Encoded encoded = ToCp932(value);
    return MemoSize{encoded.bytes.size(), encoded.unmappable};
}

} // namespace tavlo
