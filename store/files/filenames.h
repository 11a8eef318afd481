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

// Whether `entryName` is a synchroniser's conflict copy of the agenda file
// named `agendaName` ("tavlo.txt"): Syncthing's
// "tavlo.sync-conflict-20261209-101010-ABCDEFG.txt", Nextcloud's and
// ownCloud's "tavlo (conflicted copy 2026-12-09 101010).txt", Dropbox's
// "tavlo (Taro's conflicted copy 2026-12-09).txt", the last two also
// numbered ("... (2).txt"). Gives the time its name carries, as the name
// writes it ("2026-12-09 10:10:10", or the day alone).
std::optional<QString> ConflictCopyTime(const QByteArray &entryName, const QByteArray &agendaName);

// The name a conflict copy keeps once its memos are in the agenda: it says
// so, and no synchroniser's pattern matches it, so it is not offered again.
QByteArray MergedCopyPathFor(const QByteArray &copyPath);

} // namespace tavlo
