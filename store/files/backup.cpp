#include "store/files/backup.h"

namespace tavlo {

FileResult MakeBackupCopy(const QByteArray &dataFile, const QByteArray &backupPath)
{
    // Locked for writing: no other copy's save changes the file while it is
    // copied, and no other copy's backup aims at the same name meanwhile.
    LockedFile source;
    const FileResult opened = source.open(dataFile, LockedFile::Exclusive, 3000);
    if (!opened.ok())
        return opened;
    const FileBytes bytes = ReadWholeFile(source);
    if (!bytes.result.ok())
        return bytes.result;
    return CreateCopyExclusively(backupPath, bytes.bytes, &source);
}

} // namespace tavlo
