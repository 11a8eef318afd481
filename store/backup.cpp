#include "store/backup.h"

#include <cstdio>

namespace tavlo {

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

FileResult MakeBackupCopy(const QByteArray &dataFile, const QByteArray &backupPath)
{
    const FileBytes source = readWholeFile(dataFile);
    if (!source.result.ok())
        return source.result;
    return createFileExclusively(backupPath, source.bytes);
}

} // namespace tavlo
