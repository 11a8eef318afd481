#pragma once
// Timestamped copies of the agenda file, made on the user's request.
#include "store/safefile.h"

#include <QDateTime>
#include <QByteArray>

namespace tavlo {

// The agenda path without its last four characters (its ".txt"), then
// "_yyyyMMdd_HHmmss.txt" for the given local time.
QByteArray BackupPathFor(const QByteArray &dataFile, const QDateTime &when);

// Copies the file's current bytes to `backupPath`, whole or not at all; an
// existing file at `backupPath` is never replaced.
FileResult MakeBackupCopy(const QByteArray &dataFile, const QByteArray &backupPath);

} // namespace tavlo
