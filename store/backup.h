#pragma once
// Timestamped copies of the agenda file, made on the user's request.
#include "store/safefile.h"

#include <QDateTime>
#include <QString>

namespace tavlo {

// The agenda path without its last four characters (its ".txt"), then
// "_yyyyMMdd_HHmmss.txt" for the given local time.
QString BackupPathFor(const QString &dataFile, const QDateTime &when);

// Copies the file's current bytes to `backupPath`, whole or not at all; an
// existing file at `backupPath` is never replaced.
FileResult MakeBackupCopy(const QString &dataFile, const QString &backupPath);

} // namespace tavlo
