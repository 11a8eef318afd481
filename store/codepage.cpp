#include "store/codepage.h"

#include <QList>
#include <QStringList>

#include <cerrno>
#include <iconv.h>
#include <mutex>
#include <vector>

namespace tavlo {
namespace {

// "CP932" and not "SHIFT_JIS": glibc's SHIFT_JIS maps 0x5C to the yen sign,
// which would turn every backslash in a memo into another character.
constexpr const char *kCodePage = "CP932";

// One converter per direction; iconv_t keeps state, so each use resets it and
// holds the lock: start-up and searches convert on threads of their own.
class Converter
{
public:
    Converter(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }
    std::mutex &mutex() { return m_mutex; }

private:
    iconv_t m_cd;
    std::mutex m_mutex;
};

Converter &encoder()
{
    static Converter c(kCodePage, "UTF-16LE");
    return c;
}

Converter &decoder()
{
    static Converter c("UTF-16LE", kCodePage);
    return c;
}

bool isAscii(const char *data, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

bool isAscii(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

void PrepareCodePage()
{
    encoder();
    decoder();
}

Cp932Encoded ToCp932(const QString &text)
{
    Cp932Encoded result;
    if (isAscii(text)) {
        result.bytes = text.toLatin1();
        return result;
    }

    Converter &conv = encoder();
    std::lock_guard<std::mutex> lock(conv.mutex());
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);

    result.bytes.resize(text.size() * 2 + 16);
    const auto *units = reinterpret_cast<const char16_t *>(text.utf16());
    qsizetype i = 0;
    qsizetype written = 0;
    while (i < text.size()) {
        // Feed one code point at a time only after a failure; normally the
        // whole remainder goes in one call.
        char *in = const_cast<char *>(reinterpret_cast<const char *>(units + i));
        size_t inLeft = size_t(text.size() - i) * 2;
        char *out = result.bytes.data() + written;
        size_t outLeft = size_t(result.bytes.size() - written);
        const size_t rc = iconv(conv.handle(), &in, &inLeft, &out, &outLeft);
        const int err = errno;
        written = out - result.bytes.data();
        i = text.size() - qsizetype(inLeft / 2);
        if (rc != size_t(-1))
            break;
        if (err == E2BIG) {
            result.bytes.resize(result.bytes.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: the code point at i has no form (or is a lone
        // surrogate). Name it and step over it.
        qsizetype len = 1;
        if (QChar::isHighSurrogate(units[i]) && i + 1 < text.size()
            && QChar::isLowSurrogate(units[i + 1]))
            len = 2;
        const QString ch = text.mid(i, len);
        if (!result.unmappable.contains(ch))
            result.unmappable += ch;
        i += len;
        iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    }
    result.bytes.resize(written);
    return result;
}

namespace {

// `invalid` stands for each byte that is no code page 932 character:
// nothing (a replacement character) or its value written out.
enum class Invalid { Replaced, Written };

QString decode(const char *data, qsizetype size, Invalid invalid)
{
    if (isAscii(data, size))
        return QString::fromLatin1(data, int(size));

    Converter &conv = decoder();
    std::lock_guard<std::mutex> lock(conv.mutex());
    iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);

    // Every input byte yields at most one UTF-16 unit, or four written out.
    std::vector<char16_t> buffer(size_t(size) * (invalid == Invalid::Written ? 4 : 1) + 1);
    char *in = const_cast<char *>(data);
    size_t inLeft = size_t(size);
    char *out = reinterpret_cast<char *>(buffer.data());
    size_t outLeft = buffer.size() * 2;
    while (inLeft > 0) {
        const size_t rc = iconv(conv.handle(), &in, &inLeft, &out, &outLeft);
        if (rc != size_t(-1))
            break;
        // An invalid or truncated sequence: one replacement character for
        // its first byte, then carry on after it.
        auto *o = reinterpret_cast<char16_t *>(out);
        const QString shown = invalid == Invalid::Written
            ? QString(QStringLiteral("\\x") + QString::number(static_cast<unsigned char>(*in), 16).rightJustified(2, u'0').toUpper())
            : QString(QChar(0xFFFD));
        for (const QChar c : shown)
            *o++ = c.unicode();
        out += 2 * shown.size();
        outLeft -= 2 * size_t(shown.size());
        ++in;
        --inLeft;
        iconv(conv.handle(), nullptr, nullptr, nullptr, nullptr);
    }
    const auto units = qsizetype((out - reinterpret_cast<char *>(buffer.data())) / 2);
    return QString(reinterpret_cast<const QChar *>(buffer.data()), int(units));
}

} // namespace

QString FromCp932(const char *data, qsizetype size)
{
    return decode(data, size, Invalid::Replaced);
}

namespace {

// Every character code page 932 has, by its bytes: single bytes, and the
// second bytes of each first byte. 0 marks bytes that make no character.
struct Cp932Table {
    char16_t single[256] = {};
    char16_t pair[64][256] = {}; // by first byte 0x81 to 0x9F, 0xE0 to 0xFC

    static int row(unsigned char lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 0x1F; }

    template <class Each>
    static void forEachPair(Each &&each)
    {
        for (int lead = 0x81; lead <= 0xFC; lead = lead == 0x9F ? 0xE0 : lead + 1)
            for (int trail = 0x40; trail <= 0xFC; ++trail)
                each(lead, trail);
    }

    Cp932Table()
    {
        // One pass of the converter over every byte from 0x80 and every
        // pair, each followed by a line break that no second byte can be.
        QByteArray all;
        for (int b = 0x80; b < 256; ++b)
            all.append(char(b)).append('\n');
        forEachPair([&all](int lead, int trail) { all.append(char(lead)).append(char(trail)).append('\n'); });
        const QStringList pieces = FromCp932(all).split(u'\n');
        int at = 0;
        const auto next = [&pieces, &at] {
            const QString &piece = pieces.at(at++);
            return piece.size() == 1 && piece.at(0).unicode() != 0xFFFD ? piece.at(0).unicode() : char16_t(0);
        };
        for (int b = 0x80; b < 256; ++b)
            single[b] = next();
        forEachPair([this, &next](int lead, int trail) { pair[row(uchar(lead))][trail] = next(); });
    }
};

} // namespace

void AppendFromCp932(const char *data, qsizetype size, std::vector<char16_t> &out)
{
    static const Cp932Table table;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    out.reserve(out.size() + size_t(size));
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            out.push_back(char16_t(b));
            continue;
        }
        if (IsCp932LeadByte(b) && i + 1 < size) {
            if (const char16_t c = table.pair[Cp932Table::row(b)][bytes[i + 1]]) {
                out.push_back(c);
                ++i;
                continue;
            }
        }
        // One replacement character for a byte that begins no character.
        out.push_back(table.single[b] ? table.single[b] : char16_t(0xFFFD));
    }
}

QString FromCp932(const QByteArray &bytes)
{
    return FromCp932(bytes.constData(), bytes.size());
}

QString PathForDisplay(const QByteArray &path)
{
    QString shown;
    const QList<QByteArray> parts = path.split('/');
    for (const QByteArray &part : parts) {
        if (&part != &parts.first())
            shown += u'/';
        const QString utf8 = QString::fromUtf8(part);
        if (utf8.toUtf8() == part) {
            shown += utf8;
            continue;
        }
        // Neither: each byte that is no character is shown by its value, so
        // the folder can still be told and found.
        shown += decode(part.constData(), part.size(), Invalid::Written);
    }
    return shown;
}

} // namespace tavlo
