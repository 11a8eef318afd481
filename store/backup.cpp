#include "store/backup.h"

namespace tavlo {

QString BackupPathFor(const QString &dataFile, const QDateTime &when)
{
    const QString stem = dataFile.left(qMax<qsizetype>(0, dataFile.size() - 4));
    const QDate d = when.date();
    const QTime t = when.time();
    return stem
        + QString::asprintf("_%04d%02d%02d_%02d%02d%02d.txt", d.year(), d.month(), d.day(), t.hour(),
                            t.minute(), t.second());
}

FileResult MakeBackupCopy(const QString &dataFile, const QString &backupPath)
{
    const FileBytes source = readWholeFile(dataFile);
    if (!source.result.ok())
        return source.result;
    return createFileExclusively(backupPath, source.bytes);
}

} // namespace tavlo
