#pragma once
// The agenda file: one memo per date, kept in one INI section of a code page
// 932 text file. Every operation goes to the file when it is called; nothing
// is cached, so another program's edits are always seen.
#include "store/files/safefile.h"
#include "store/merge.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tavlo {

// What the store refuses on purpose, before it touches the file.
enum class StoreRefusal {
    None,
    IsProgram,  // the agenda's path is the program's own file
    InvalidKey, // the entry's name cannot be written or removed
    Unmappable, // the text holds characters without a code page 932 form
    LineBreak,  // a line break in the value or the section's name
};

// Why a write or delete did not happen; ok() means the file now holds it.
// A refusal comes before the file is touched; otherwise `file` tells what
// the file layer met.
struct StoreResult {
    StoreRefusal refusal = StoreRefusal::None;
    QString unmappable; // with StoreRefusal::Unmappable: the characters
    FileResult file;
    bool ok() const { return refusal == StoreRefusal::None && file.ok(); }
    static StoreResult refused(StoreRefusal why, const QString &unmappable = QString())
    {
        StoreResult result;
        result.refusal = why;
        result.unmappable = unmappable;
        return result;
    }
};

class AgendaFile
{
public:
    // A value longer than this comes back cut (a hand-edited file only).
    static constexpr int kReadCapacity = 16383;

    // `nativePath` and `sectionBytes` as the kernel and the file hold them.
    // A store whose path is the program's own file reads nothing and refuses
    // every write (IsProgram).
    // With `seedPath`, the file does not exist until its first write, which
    // starts it as a copy of the seed; until then the seed is read.
    AgendaFile(QByteArray nativePath, QByteArray sectionBytes, const QByteArray &programPath = QByteArray(),
               QByteArray seedPath = QByteArray());

    const QByteArray &NativePath() const { return m_path; }
    // The file that path names, through its links (it need not exist):
    // what a synchroniser puts its conflict copies beside.
    QByteArray TargetPath() const;
    // The path as shown to the user.
    QString DisplayPath() const;

    // The start-up scan: the date keys in file order. A file that is there
    // but cannot be read gives the keys read until then and, in `failure`,
    // why: the scan's own stops are no error.
    QStringList ListDateKeys(FileResult *failure = nullptr) const;

    // The stored memo value (still encoded), or nothing when the key, its
    // section or the file is missing, or the value is empty; or when the
    // file cannot be read, which `failure` tells apart.
    // With `identity`, also which file was read (taken when it was opened).
    std::optional<QString> ReadMemo(const QString &key, FileIdentity *identity = nullptr,
                                    FileResult *failure = nullptr) const;

    // Stores the value under the key. Refuses (and writes nothing) when a
    // name or the value holds CR, LF or NUL, or has no code page 932 form.
    StoreResult WriteMemo(const QString &key, const QString &value) const;

    // Removes the key's line. A missing key, section or file changes nothing.
    StoreResult DeleteDate(const QString &key) const;

    // Whether the folder the path names is there.
    bool FolderExists() const;

    // Which file the path names now; equal identities mean unchanged content.
    FileIdentity Identity() const;

    // Whether the section holds the key, with or without a value.
    bool HasDate(const QString &key, FileResult *failure = nullptr) const;

    // What the agenda holds now, whole (NotFound: nothing yet), and the name
    // of its section there: for reading every date at once.
    FileBytes ReadAll() const;
    const QByteArray &SectionBytes() const { return m_sectionBytes; }

    // How much of a stored value ReadMemo gives: up to the first NUL, and
    // no more than kReadCapacity bytes, never half a character.
    static qsizetype ReadablePrefix(const char *value, qsizetype size);

    // The conflict copies a synchroniser left beside the agenda, oldest
    // first (ConflictCopyTime): only plain files of this user's that can be
    // read; anything else named like one is left alone. `failure`: the
    // folder could not be read.
    struct ConflictCopy {
        QByteArray path;
        QString time; // as its name writes it
    };
    std::vector<ConflictCopy> ConflictCopies(FileResult *failure = nullptr) const;

    // Brings a conflict copy's memos in (MergeConflictCopy, `marker` the line
    // between two memos) with one write through the save machinery, then
    // sets the copy aside under MergedCopyPathFor: the file is old or merged,
    // never half, and the copy is never lost.
    struct MergeResult {
        StoreResult store;
        MergeOutcome outcome;
        QByteArray keptAs; // where the copy is now
        bool written = false; // its memos are in (also where setting it aside failed)
    };
    MergeResult MergeCopy(const ConflictCopy &copy, const QString &marker) const;

    // Copies what the agenda holds now to `backupPath` (see MakeBackupCopy).
    FileResult Backup(const QByteArray &backupPath) const;

private:
    // Opens what holds the agenda now: the file, or the seed before the
    // first write.
    FileResult OpenForReading(LockedFile &file) const;
    // Makes the file's folders, and the file from the seed, before the
    // first write.
    FileResult StartOwnCopy() const;
    std::optional<QByteArray> FindValue(const QString &key, FileIdentity *identity, FileResult *failure) const;

    QByteArray m_path;
    QByteArray m_sectionBytes;
    QByteArray m_seedPath;
    bool m_isProgram = false;
};

} // namespace tavlo
