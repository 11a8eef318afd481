#pragma once
// The memo value: how an editor text is stored on one line of the agenda file.
#include <QString>

namespace tavlo {

// One line break of a memo is stored as this single control character.
constexpr char16_t kLineBreakMarker = 0x0F;

// The largest memo value the update command stores, in code page 932 bytes.
constexpr int kMemoSizeLimit = 4096;

// Every CR LF becomes the marker; a lone CR or LF is left as it is.
QString EncodeMemo(const QString &text);

// Every marker becomes CR LF.
QString DecodeMemo(const QString &value);

struct MemoSize {
    qsizetype bytes = 0;   // size in code page 932, unmappable characters left out
    QString unmappable;    // characters with no code page 932 form
};

// Measures an encoded memo value as the agenda file would hold it.
MemoSize MeasureMemo(const QString &value);

inline bool FitsMemoSizeLimit(const MemoSize &size) { return size.bytes <= kMemoSizeLimit; }

} // namespace tavlo
