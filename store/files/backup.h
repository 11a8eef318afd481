#pragma once
// Timestamped copies of the agenda file, made on the user's request. Their
// names come from BackupPathFor (store/files/filenames.h).
#include "store/files/safefile.h"

#include <QByteArray>

namespace tavlo {

// Copies the file's current bytes to `backupPath`, whole or not at all; an
// existing file at `backupPath` is never replaced. The copy is readable by
// no one who may not read the agenda file.
FileResult MakeBackupCopy(const QByteArray &dataFile, const QByteArray &backupPath);

} // namespace tavlo
