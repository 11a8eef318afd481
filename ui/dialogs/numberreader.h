#pragma once
// Reading a number typed into a box of the add-date dialog.
#include <QString>
#include <optional>

namespace tavlo {

// Reads leading blanks, an optional sign, digits, an optional decimal part and
// an optional exponent; whatever follows ends the number, and text without a
// number reads as 0. The value is rounded to the nearest integer (halves away
// from zero). Returns nothing when it lies outside -32768 to 32767.
std::optional<qint16> ReadBoxNumber(const QString &text);

} // namespace tavlo
