#pragma once
// Tells when the entries of a folder change (made, written, renamed,
// removed, their permissions), from the kernel's notices: nothing runs while
// nothing changes.
#include <QByteArray>
#include <QObject>

class QSocketNotifier;

namespace tavlo {

class FolderWatch : public QObject
{
    Q_OBJECT

public:
    explicit FolderWatch(QObject *parent = nullptr);
    ~FolderWatch() override;

    // Watches `folder` (and no other any more); false when it cannot.
    bool watch(const QByteArray &folder);

signals:
    // An entry changed; an empty name: the folder itself was moved or
    // removed, or notices were lost (anything may have changed).
    void changed(const QByteArray &name);

private:
    void readNotices();

    int m_fd = -1;
    int m_watch = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace tavlo
