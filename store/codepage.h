#pragma once
// Conversion between the program's Unicode text and code page 932, the
// agenda file's encoding.
#include <QByteArray>
#include <QString>

#include <vector>

namespace tavlo {

struct Cp932Encoded {
    QByteArray bytes;
    // Characters with no code page 932 form, each listed once, in the order
    // they first occur. Empty when the whole text converted.
    QString unmappable;
    bool ok() const { return unmappable.isEmpty(); }
};

// Encodes the text. Characters without a code page 932 form are left out of
// `bytes` and named in `unmappable`; nothing is ever replaced by "?".
Cp932Encoded ToCp932(const QString &text);

// Decodes bytes. Bytes that are not valid code page 932 come back as U+FFFD,
// one per offending byte; decoding never fails.
QString FromCp932(const QByteArray &bytes);
QString FromCp932(const char *data, qsizetype size);

// Appends what FromCp932 makes of the bytes, through a table made once from
// it: a search decodes every memo of a long agenda, where a call of the
// converter each would cost more than the decoding itself.
void AppendFromCp932(const char *data, qsizetype size, std::vector<char16_t> &out);

// A path as the user should read it: each part as UTF-8 where it is that,
// else as code page 932 (a folder unpacked from an archive made on Windows),
// with any byte that is no character there written as \xNN.
QString PathForDisplay(const QByteArray &path);

// Opens the converters ahead of their first use, which loads glibc's code
// page module; any thread may call it.
void PrepareCodePage();

// True for the first byte of a double-byte character.
inline bool IsCp932LeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace tavlo
