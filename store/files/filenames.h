#pragma once
// Every name the program makes beside the agenda file, and how it recognises
// them again: hidden temporaries, the journal of an in-place save and backup
// copies. Paths are the kernel's bytes.
#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace tavlo {

// The folder part of a path ("." for a bare name, "/" for the root).
QByteArray FolderOf(const QByteArray &path);
// The last part of a path.
QByteArray FileNameOf(const QByteArray &path);

// A fresh hidden name beside `target` for a file written before it takes
// `target`'s place: "." + its name + ".tavlo-temp-" + eight random letters or
// digits. The mark is one that no person and no other tool would choose, so
// a start-up may clear what a killed save left without touching anyone
// else's file.
QByteArray TemporaryPathFor(const QByteArray &target);

// The name a temporary was made for, when `entryName` is one of ours.
std::optional<QByteArray> TemporaryTargetOf(const QByteArray &entryName);

// The complete copy of the old content kept beside a file while it is
// overwritten in place. One that outlives a save is announced to the user.
QByteArray JournalPathFor(const QByteArray &target);

// A backup copy's path: the agenda path without its last four characters (its
// ".txt"), then "_yyyyMMdd_HHmmss.txt" for the given local time.
QByteArray BackupPathFor(const QByteArray &dataFile, const QDateTime &when);

// Whether `entryName` is named like a backup copy of the agenda file named
// `agendaName`.
bool IsBackupNameOf(const QByteArray &entryName, const QByteArray &agendaName);

} // namespace tavlo
