#include "store/agendafile.h"

#include "store/codepage.h"
#include "store/files/backup.h"
#include "store/files/fileio.h"
#include "store/files/filenames.h"
#include "store/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo {
namespace {

bool breaksLine(const QString &text)
{
    for (QChar c : text)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return true;
    return false;
}

bool isValidKey(const QString &key)
{
    // A key must come back from the file as the same entry: it cannot hold
    // "=", nor begin as a section line or a comment would.
    return !key.isEmpty() && !breaksLine(key) && !key.contains(u'=') && !key.startsWith(u'[')
        && !key.startsWith(u';');
}

StoreResult fromFile(const FileResult &r)
{
    StoreResult out;
    out.file = r;
    return out;
}

bool sameFile(const QByteArray &a, const QByteArray &b)
{
    struct stat sa, sb;
    return a == b
        || (::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev
            && sa.st_ino == sb.st_ino);
}

// How long a copy of the program waits for another one's save: a read
// rather shows what is there, a write says the file is busy.
constexpr int kReadWaitMs = 2000;
constexpr int kWriteWaitMs = 3000;

// Hands the file to `onPiece(data, size, atEnd, offset)` a piece at a time,
// each beginning with what the last call left unused; it returns how many
// bytes it used, or -1 to stop. False when a read failed (errno says why):
// what was handed over then is not the whole file. Reads in pieces, so that only as much of the
// file is read as the answer needs and a huge file never has to fit in
// memory at once.
template <class OnPiece>
bool streamPieces(const LockedFile &file, OnPiece &&onPiece)
{
    constexpr qint64 kMaxPiece = 1 << 20;
    // Not zero-filled: only what was read is ever looked at, and pages
    // never read into are never touched.
    size_t capacity = size_t(qBound<qint64>(4096, qint64(file.status().st_size) + 1, kMaxPiece));
    std::unique_ptr<char[]> buffer(new char[capacity]);
    // The first reads are short, so that a date near the top of a large
    // file costs little; they double up to the whole buffer.
    size_t piece = 64 * 1024;
    size_t have = 0;
    qint64 base = 0; // file offset of buffer[0]
    for (;;) {
        if (have == capacity) { // one line longer than the buffer
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), buffer.get(), have);
            buffer = std::move(larger);
            capacity *= 2;
        }
        const size_t want = std::min(capacity - have, piece);
        piece = std::min(piece * 2, size_t(kMaxPiece));
        ssize_t n;
        do {
            n = ::pread(file.fd(), buffer.get() + have, want, off_t(base + qint64(have)));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return false;
        const bool atEnd = n == 0;
        if (!atEnd)
            have += size_t(n);
        const qsizetype used = onPiece(static_cast<const char *>(buffer.get()), qsizetype(have), atEnd, base);
        if (used < 0 || atEnd)
            return true;
        std::memmove(buffer.get(), buffer.get() + used, have - size_t(used));
        have -= size_t(used);
        base += used;
    }
}

// Hands the file's lines to `onLine(text, line)`, the line's offsets counted
// from the start of the file, until it returns false.
template <class OnLine>
bool streamLines(const LockedFile &file, OnLine &&onLine)
{
    return streamPieces(file, [&onLine](const char *data, qsizetype size, bool atEnd, qint64 base) -> qsizetype {
        const profile::LineFeed feed =
            profile::ForEachLineAt(data, size, atEnd, [&onLine, base](const char *bytes, profile::Line line) {
                const char *text = bytes + line.begin;
                line.begin += base;
                line.end += base;
                line.next += base;
                return onLine(text, line);
            });
        return feed.stopped ? -1 : feed.used;
    });
}

// Writes the file as the splice makes it from the old content: the kernel
// copies the unchanged ranges, so the old file is never held in memory.
FileResult applyToFile(const LockedFile &old, const profile::Splice &splice)
{
    std::vector<BytePiece> pieces;
    if (splice.at > 0)
        pieces.push_back(BytePiece{nullptr, size_t(splice.at), old.fd(), 0});
    pieces.push_back(BytePiece{splice.insert.constData(), size_t(splice.insert.size())});
    const qint64 rest = splice.at + splice.remove;
    if (old.exists() && rest < old.status().st_size)
        pieces.push_back(BytePiece{nullptr, size_t(old.status().st_size - rest), old.fd(), rest});
    return ReplaceFile(old, pieces);
}

// Locks the file, plans the edit on what it holds and writes it. The plan
// returns false when the file could not be read whole. Another
// program may change the file while the edit is written: the edit is then
// made again on what the file holds now.
template <class Plan>
StoreResult editFile(const QByteArray &path, const FileResult &started, Plan &&plan)
{
    if (!started.ok())
        return fromFile(started);
    StoreResult result;
    for (int attempt = 0; attempt < 5; ++attempt) {
        LockedFile file;
        const FileResult opened = file.open(path, LockedFile::Exclusive, kWriteWaitMs);
        if (!opened.ok())
            return fromFile(opened);
        std::optional<profile::Splice> splice;
        if (!plan(file, splice)) // the file could not be read whole: nothing is written
            return fromFile(FileResult{ClassifyError(errno, true), errno, QByteArray()});
        if (!splice)
            return StoreResult{};
        result = fromFile(applyToFile(file, *splice));
        if (result.file.error != FileError::Changed)
            break;
    }
    return result;
}

} // namespace

AgendaFile::AgendaFile(QByteArray nativePath, QByteArray sectionBytes, const QByteArray &programPath,
                       QByteArray seedPath)
    : m_path(std::move(nativePath)), m_sectionBytes(std::move(sectionBytes)), m_seedPath(std::move(seedPath)),
      m_isProgram(!programPath.isEmpty() && sameFile(m_path, programPath))
{
}

FileResult AgendaFile::OpenForReading(LockedFile &file) const
{
    const FileResult opened = file.open(m_path, LockedFile::Shared, kReadWaitMs);
    // Where the own copy cannot be (its folder is a file, or links loop), it
    // is not there either: the seed is what there is to read.
    const bool absent = opened.ok() ? !file.exists() : opened.error == FileError::FolderUnusable;
    if (!absent || m_seedPath.isEmpty())
        return opened;
    return file.open(m_seedPath, LockedFile::Shared, kReadWaitMs);
}

FileResult AgendaFile::StartOwnCopy() const
{
    struct stat st;
    if (m_seedPath.isEmpty() || ::lstat(m_path.constData(), &st) == 0)
        return FileResult{};
    // The folders of a per-user store are the user's alone.
    const QByteArray folder = FolderOf(m_path);
    for (int slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return FileResult{ClassifyError(errno), errno, QByteArray()};
        if (slash < 0)
            break;
    }
    LockedFile seed;
    const FileResult opened = seed.open(m_seedPath, LockedFile::Shared, kReadWaitMs);
    if (!opened.ok() || !seed.exists())
        return FileResult{}; // nothing to start from: the first write makes the file
    const FileBytes bytes = ReadWholeFile(seed);
    if (!bytes.result.ok())
        return bytes.result;
    const FileResult made = CreateCopyExclusively(m_path, bytes.bytes, nullptr);
    return made.error == FileError::Exists ? FileResult{} : made; // another copy of ours made it first
}

FileResult AgendaFile::Backup(const QByteArray &backupPath) const
{
    struct stat st;
    if (!m_seedPath.isEmpty() && ::lstat(m_path.constData(), &st) != 0) {
        const FileResult started = StartOwnCopy(); // backups live beside the user's own copy
        if (!started.ok())
            return started;
    }
    return MakeBackupCopy(m_path, backupPath);
}

QString AgendaFile::DisplayPath() const
{
    return PathForDisplay(m_path);
}

QStringList AgendaFile::ListDateKeys(FileResult *failure) const
{
    QStringList keys;
    FileResult result;
    LockedFile file;
    if (!m_isProgram && (result = OpenForReading(file)).ok() && file.exists()
        && !streamLines(file, [&keys](const char *line, const profile::Line &at) {
               return profile::ScanLine(line, at.end - at.begin, [&keys](const char *key, qsizetype length) {
                   keys.append(FromCp932(key, length));
               });
           }))
        result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
    if (failure)
        *failure = result;
    return keys;
}

qsizetype AgendaFile::ReadablePrefix(const char *value, qsizetype size)
{
    const auto *nul = static_cast<const char *>(std::memchr(value, '\0', size_t(size)));
    if (nul)
        size = nul - value;
    if (size <= kReadCapacity)
        return size;
    qsizetype i = 0;
    while (i < kReadCapacity) {
        const qsizetype step = IsCp932LeadByte(static_cast<unsigned char>(value[i])) ? 2 : 1;
        if (i + step > kReadCapacity)
            break;
        i += step;
    }
    return i;
}

FileBytes AgendaFile::ReadAll() const
{
    LockedFile file;
    FileBytes out;
    if (m_isProgram)
        return out;
    out.result = OpenForReading(file);
    if (out.result.ok())
        out = ReadWholeFile(file);
    return out;
}

std::optional<QString> AgendaFile::ReadMemo(const QString &key, FileIdentity *identity, FileResult *failure) const
{
    const std::optional<QByteArray> value = FindValue(key, identity, failure);
    if (!value)
        return std::nullopt;
    const qsizetype size = ReadablePrefix(value->constData(), value->size());
    if (size == 0)
        return std::nullopt;
    return FromCp932(value->constData(), size);
}

StoreResult AgendaFile::WriteMemo(const QString &key, const QString &value) const
{
    if (m_isProgram)
        return StoreResult::refused(StoreRefusal::IsProgram);
    const Cp932Encoded k = ToCp932(key);
    const Cp932Encoded v = ToCp932(value);
    if (!isValidKey(key) || !k.ok()) {
        return StoreResult::refused(StoreRefusal::InvalidKey);
    }
    if (breaksLine(value) || m_sectionBytes.contains('\r') || m_sectionBytes.contains('\n')) {
        return StoreResult::refused(StoreRefusal::LineBreak);
    }
    if (!v.ok()) {
        return StoreResult::refused(StoreRefusal::Unmappable, v.unmappable);
    }
    return editFile(m_path, StartOwnCopy(), [&](const LockedFile &file, std::optional<profile::Splice> &splice) {
        profile::EditLocator locator(m_sectionBytes, k.bytes);
        if (file.exists()
            && !streamLines(file, [&locator](const char *line, const profile::Line &at) { return locator.line(line, at); }))
            return false;
        splice = locator.planWrite(v.bytes);
        return true;
    });
}

StoreResult AgendaFile::DeleteDate(const QString &key) const
{
    if (m_isProgram)
        return StoreResult::refused(StoreRefusal::IsProgram);
    const Cp932Encoded k = ToCp932(key);
    if (!k.ok() || !isValidKey(key)) {
        // The scan lists such a line (a comment, an empty name), but no
        // entry of that name can be removed: saying so keeps the date shown.
        return StoreResult::refused(StoreRefusal::InvalidKey);
    }
    return editFile(m_path, StartOwnCopy(), [&](const LockedFile &file, std::optional<profile::Splice> &splice) {
        if (!file.exists())
            return true;
        profile::EditLocator locator(m_sectionBytes, k.bytes);
        if (!streamLines(file, [&locator](const char *line, const profile::Line &at) { return locator.line(line, at); }))
            return false;
        splice = locator.planRemove();
        return true;
    });
}

QByteArray AgendaFile::TargetPath() const
{
    return ResolveTarget(m_path);
}

std::vector<AgendaFile::ConflictCopy> AgendaFile::ConflictCopies(FileResult *failure) const
{
    std::vector<ConflictCopy> copies;
    // The synchroniser names its copies after the file itself, beside it,
    // where the path is a link to it.
    const QByteArray target = TargetPath();
    const QByteArray folder = FolderOf(target);
    const QByteArray agendaName = FileNameOf(target);
    FileResult result;
    DIR *dir = ::opendir(folder.constData());
    if (!dir && errno != ENOENT)
        result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
    if (dir) {
        for (;;) {
            errno = 0;
            const dirent *entry = ::readdir(dir);
            if (!entry) {
                if (errno != 0)
                    result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
                break;
            }
            const QByteArray name(entry->d_name);
            const std::optional<QString> time = ConflictCopyTime(name, agendaName);
            struct stat st;
            const QByteArray path = folder + '/' + name;
            if (!time)
                continue;
            // Gone meanwhile is no copy; what cannot be looked at is no answer.
            if (::lstat(path.constData(), &st) != 0) {
                if (errno != ENOENT)
                    result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
                continue;
            }
            // A folder, a link, another user's file or one this user may not
            // read: named like a copy, never taken for one.
            if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
                continue;
            if (::access(path.constData(), R_OK) == 0)
                copies.push_back(ConflictCopy{path, *time});
            else if (errno != EACCES && errno != EPERM)
                result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
        }
        ::closedir(dir);
    }
    if (failure)
        *failure = result;
    std::sort(copies.begin(), copies.end(), [](const ConflictCopy &a, const ConflictCopy &b) {
        return a.time != b.time ? a.time < b.time : a.path < b.path;
    });
    return copies;
}

AgendaFile::MergeResult AgendaFile::MergeCopy(const ConflictCopy &copy, const QString &marker) const
{
    MergeResult result;
    if (m_isProgram) {
        result.store = StoreResult::refused(StoreRefusal::IsProgram);
        return result;
    }
    LockedFile from;
    FileResult opened = from.open(copy.path, LockedFile::Shared, kReadWaitMs);
    const FileBytes theirs = opened.ok() ? ReadWholeFile(from) : FileBytes{opened, QByteArray()};
    if (!theirs.result.ok()) {
        result.store = fromFile(theirs.result);
        return result;
    }
    const Cp932Encoded line = ToCp932(marker);
    result.store = editFile(m_path, StartOwnCopy(), [&](const LockedFile &file, std::optional<profile::Splice> &splice) {
        const FileBytes ours = file.exists() ? ReadWholeFile(file) : FileBytes{};
        if (!ours.result.ok())
            return errno = ours.result.sysErrno, false;
        result.outcome = tavlo::MergeConflictCopy(ours.bytes, theirs.bytes, m_sectionBytes, line.bytes);
        if (result.outcome.changed())
            splice = profile::Splice{0, ours.bytes.size(), result.outcome.merged};
        return true;
    });
    if (!result.store.ok())
        return result;
    result.written = true;
    // Aside, under a name no synchroniser's pattern matches.
    const QByteArray aside = MergedCopyPathFor(copy.path);
    for (int n = 1; n <= 99; ++n) {
        const QByteArray name = n == 1 ? aside : aside.left(aside.lastIndexOf('.')) + QByteArray::number(n) + aside.mid(aside.lastIndexOf('.'));
        if (MoveToNewName(copy.path, name)) {
            result.keptAs = name;
            return result;
        }
        if (errno != EEXIST)
            break;
    }
    result.store = fromFile(FileResult{ClassifyError(errno), errno, QByteArray()});
    result.keptAs = copy.path;
    return result;
}

FileIdentity AgendaFile::Identity() const
{
    LockedFile file;
    return OpenForReading(file).ok() ? file.identity() : FileIdentity{};
}

bool AgendaFile::FolderExists() const
{
    struct stat st;
    return ::stat(FolderOf(m_path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool AgendaFile::HasDate(const QString &key, FileResult *failure) const
{
    return FindValue(key, nullptr, failure).has_value();
}

std::optional<QByteArray> AgendaFile::FindValue(const QString &key, FileIdentity *identity, FileResult *failure) const
{
    FileResult ignored;
    FileResult &result = failure ? *failure : ignored;
    result = FileResult{};
    if (identity)
        *identity = FileIdentity{};
    const Cp932Encoded k = ToCp932(key);
    if (m_isProgram || !k.ok() || !isValidKey(key))
        return std::nullopt;
    profile::ValueFinder finder(m_sectionBytes, k.bytes);
    LockedFile file;
    result = OpenForReading(file);
    if (identity)
        *identity = file.identity();
    if (!result.ok() || !file.exists())
        return std::nullopt;
    if (!streamPieces(file, [&finder](const char *data, qsizetype size, bool atEnd, qint64) {
            return finder.feed(data, size, atEnd);
        })) {
        result = FileResult{ClassifyError(errno, true), errno, QByteArray()};
        return std::nullopt;
    }
    return finder.value();
}

} // namespace tavlo
