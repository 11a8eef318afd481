#pragma once
// Shared test fixtures: agenda files in temporary folders, and folders that
// refuse writes for real (permissions, or a read-only mount when the tests
// run as root, who may write anywhere).
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

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
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

// A real exFAT file system (a USB stick's), through FUSE on a loop device.
// Needs root and Debian's exfat-fuse and exfatprogs; ok() says whether the
// machine could provide it, reason() why not.
class ExfatMount
{
public:
    ExfatMount()
    {
        if (::geteuid() != 0) {
            m_reason = QStringLiteral("needs root for a loop device and a FUSE mount");
            return;
        }
        const QString image = m_dir.filePath(QStringLiteral("stick.img"));
        m_point = m_dir.filePath(QStringLiteral("stick"));
        QDir().mkdir(m_point);
        QProcess p;
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                       QStringLiteral("truncate -s 16M '%1' && mkfs.exfat '%1' >/dev/null && "
                                                      "losetup -f --show '%1'").arg(image)});
        p.waitForFinished();
        m_loop = QString::fromLatin1(p.readAllStandardOutput()).trimmed();
        if (p.exitCode() != 0 || m_loop.isEmpty()) {
            m_reason = QStringLiteral("no exfatprogs or no free loop device");
            return;
        }
        m_ok = QProcess::execute(QStringLiteral("mount.exfat-fuse"), {m_loop, m_point}) == 0;
        if (!m_ok)
            m_reason = QStringLiteral("mount.exfat-fuse failed (no /dev/fuse?)");
    }
    ~ExfatMount()
    {
        if (m_ok)
            QProcess::execute(QStringLiteral("umount"), {m_point});
        if (!m_loop.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), m_loop});
    }
    bool ok() const { return m_ok; }
    QString reason() const { return m_reason; }
    QString path() const { return m_point; }

private:
    QTemporaryDir m_dir;
    QString m_point;
    QString m_loop;
    QString m_reason;
    bool m_ok = false;
};

} // namespace tavlo::test
