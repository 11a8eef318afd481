#include "store/files/filenames.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <cstdio>

namespace tavlo {
namespace {

const QByteArray kTemporaryMark = QByteArrayLiteral(".tavlo-temp-");
constexpr int kRandomLength = 8;
const QByteArray kJournalSuffix = QByteArrayLiteral(".saving");
constexpr int kStampLength = 20; // "_yyyyMMdd_HHmmss.txt"

bool isLetterOrDigit(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool allDigits(const QByteArray &text)
{
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.isEmpty();
}

} // namespace

QByteArray FolderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArray(".");
    if (slash == 0)
        return QByteArray("/");
    return path.left(slash);
}

QByteArray FileNameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray TemporaryPathFor(const QByteArray &target)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const int slash = target.lastIndexOf('/');
    QByteArray path = target.left(slash + 1) + '.' + target.mid(slash + 1) + kTemporaryMark;
    for (int i = 0; i < kRandomLength; ++i)
        path += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return path;
}

std::optional<QByteArray> TemporaryTargetOf(const QByteArray &entryName)
{
    const int nameEnd = entryName.size() - kRandomLength - kTemporaryMark.size();
    if (nameEnd < 2 || !entryName.startsWith('.') || entryName.mid(nameEnd, kTemporaryMark.size()) != kTemporaryMark)
        return std::nullopt;
    for (int i = entryName.size() - kRandomLength; i < entryName.size(); ++i)
        if (!isLetterOrDigit(entryName.at(i)))
            return std::nullopt;
    return entryName.mid(1, nameEnd - 1);
}

QByteArray JournalPathFor(const QByteArray &target)
{
    return target + kJournalSuffix;
}

QByteArray BackupPathFor(const QByteArray &dataFile, const QDateTime &when)
{
    // The agenda path ends in ".txt", four bytes in any encoding.
    const QByteArray stem = dataFile.left(qMax<qsizetype>(0, dataFile.size() - 4));
    const QDate d = when.date();
    const QTime t = when.time();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d_%02d%02d%02d.txt", d.year(), d.month(), d.day(), t.hour(),
                  t.minute(), t.second());
    return stem + QByteArray(stamp);
}

bool IsBackupNameOf(const QByteArray &entryName, const QByteArray &agendaName)
{
    const QByteArray stem = agendaName.left(qMax<qsizetype>(0, agendaName.size() - 4));
    if (entryName.size() != stem.size() + kStampLength || !entryName.startsWith(stem) || !entryName.endsWith(".txt"))
        return false;
    const QByteArray stamp = entryName.mid(stem.size());
    return stamp.at(0) == '_' && allDigits(stamp.mid(1, 8)) && stamp.at(9) == '_' && allDigits(stamp.mid(10, 6));
}

std::optional<QString> ConflictCopyTime(const QByteArray &entryName, const QByteArray &agendaName)
{
    const int dot = agendaName.lastIndexOf('.');
    const QByteArray stem = dot > 0 ? agendaName.left(dot) : agendaName;
    const QByteArray extension = dot > 0 ? agendaName.mid(dot) : QByteArray();
    if (entryName.size() <= agendaName.size() || !entryName.startsWith(stem) || !entryName.endsWith(extension))
        return std::nullopt;
    // What lies between the stem and the extension, its bytes as they are.
    const QString mark = QString::fromLatin1(entryName.mid(stem.size(), entryName.size() - stem.size() - extension.size()));
    static const QRegularExpression kSyncthing(QStringLiteral("^\\.sync-conflict-(\\d{4})(\\d{2})(\\d{2})-(\\d{2})(\\d{2})(\\d{2})-[A-Z0-9]{7}$"));
    static const QRegularExpression kNextcloud(QStringLiteral("^ \\(conflicted copy (\\d{4}-\\d{2}-\\d{2}) (\\d{2})(\\d{2})(\\d{2})\\)( \\(\\d+\\))?$"));
    static const QRegularExpression kDropbox(QStringLiteral("^ \\(.+'s conflicted copy (\\d{4}-\\d{2}-\\d{2})\\)( \\(\\d+\\))?$"));
    QRegularExpressionMatch m;
    if ((m = kSyncthing.match(mark)).hasMatch())
        return QStringLiteral("%1-%2-%3 %4:%5:%6").arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4),
                                                        m.captured(5), m.captured(6));
    if ((m = kNextcloud.match(mark)).hasMatch())
        return QStringLiteral("%1 %2:%3:%4").arg(m.captured(1), m.captured(2), m.captured(3), m.captured(4));
    if ((m = kDropbox.match(mark)).hasMatch())
        return m.captured(1);
    return std::nullopt;
}

QByteArray MergedCopyPathFor(const QByteArray &copyPath)
{
    const int slash = copyPath.lastIndexOf('/');
    const int dot = copyPath.lastIndexOf('.');
    return dot > slash ? copyPath.left(dot) + ".merged" + copyPath.mid(dot) : copyPath + ".merged";
}

} // namespace tavlo
