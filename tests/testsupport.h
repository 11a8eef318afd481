#pragma once
// Shared test fixtures: agenda files in temporary folders, and folders that
// refuse writes for real (permissions, or a read-only mount when the tests
// run as root, who may write anywhere).
#include "store/agendafile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavlo::test {

// The agenda at `path`, in the section "tavlo".
inline AgendaFile agendaAt(const QString &path)
{
    return AgendaFile(QFile::encodeName(path), "tavlo");
}

// A file's bytes, as they are on disk.
inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Entries of a folder other than . and .., hidden ones included.
inline QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A folder whose content cannot be changed while the object lives.
class UnwritableFolder
{
public:
    // Fills `folder` with the given file, then makes the folder unwritable.
    UnwritableFolder(const QString &folder, const QString &fileName, const QByteArray &bytes)
        : m_folder(folder)
    {
        if (::geteuid() != 0) {
            writeBytes(folder + QLatin1Char('/') + fileName, bytes);
            m_ok = ::chmod(QFile::encodeName(folder).constData(), 0555) == 0;
            return;
        }
        const QByteArray path = QFile::encodeName(folder);
        if (::mount("tavlo-test", path.constData(), "tmpfs", 0, "size=1m") != 0)
            return;
        m_mounted = true;
        writeBytes(folder + QLatin1Char('/') + fileName, bytes);
        m_ok = ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~UnwritableFolder()
    {
        const QByteArray path = QFile::encodeName(m_folder);
        if (m_mounted)
            ::umount2(path.constData(), MNT_DETACH);
        else
            ::chmod(path.constData(), 0755);
    }
    bool ok() const { return m_ok; }

private:
    QString m_folder;
    bool m_mounted = false;
    bool m_ok = false;
};

} // namespace tavlo::test
