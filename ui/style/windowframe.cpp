#include "ui/style/windowframe.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "platform/windowactivation.h"

#include <xcb/xcb.h>

namespace tavlo {
namespace {

// Some window managers (openbox, KWin) offer minimise for every dialog,
// whatever the hints ask. A minimised modal dialog would leave its owner
// blocked with nothing to click, so it comes straight back, with its owner
// where the window manager took that along (KWin does).
class StayVisible : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWidget *>(watched);
        if (event->type() == QEvent::WindowStateChange && window->isModal()
            && (window->windowState() & Qt::WindowMinimized))
            QTimer::singleShot(0, window, [window] {
                if (QWidget *owner = window->parentWidget())
                    owner->window()->showNormal();
                window->showNormal();
                ActivateWindow(window->windowHandle(), QByteArray(), Until::ThisWindow);
            });
        return false;
    }
};

// A click on a window that a modal dialog blocks gives it the keyboard on
// KWin, where no key could reach anything; Qt asks for the dialog instead
// with the time of the click, which KWin refuses. The dialog asks again, in
// front, now.
class ModalStaysInFront : public QAbstractNativeEventFilter
{
public:
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
#else
    bool nativeEventFilter(const QByteArray &type, void *message, long *) override
#endif
    {
        if (type != "xcb_generic_event_t"
            || (static_cast<xcb_generic_event_t *>(message)->response_type & 0x7f) != XCB_FOCUS_IN)
            return false;
        const auto *focus = static_cast<xcb_focus_in_event_t *>(message);
        QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->internalWinId() == focus->event
            || focus->mode == XCB_NOTIFY_MODE_GRAB || focus->mode == XCB_NOTIFY_MODE_UNGRAB)
            return false;
        QTimer::singleShot(0, modal, [modal] {
            if (modal)
                ActivateWindow(modal->windowHandle(), QByteArray(), Until::ThisWindow);
        });
        return false;
    }
};

} // namespace

void UseDialogFrame(QWidget *dialog)
{
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->installEventFilter(new StayVisible(dialog));
}

void UseMainWindowFrame(QWidget *window)
{
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                           | Qt::WindowCloseButtonHint);
    static ModalStaysInFront modalStaysInFront;
    QCoreApplication::instance()->installNativeEventFilter(&modalStaysInFront);
}

namespace {

// A window manager may still place the owner after it was shown (KWin
// does, through XWayland): a dialog shown in that moment follows it.
class FollowOwnerWhilePlaced : public QObject
{
public:
    FollowOwnerWhilePlaced(QWidget *owner, QWidget *dialog) : QObject(dialog), m_dialog(dialog)
    {
        owner->installEventFilter(this);
        QTimer::singleShot(1000, this, &QObject::deleteLater);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Move && m_dialog->isVisible())
            CentreOnOwner(m_dialog, false);
        return false;
    }

private:
    QWidget *m_dialog;
};

} // namespace

void CentreOnOwner(QWidget *window, bool followWhilePlaced)
{
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible())
        return;
    const QRect ownerFrame = owner->frameGeometry();
    const QRect ownerClient = owner->geometry();
    const QMargins margins(ownerClient.left() - ownerFrame.left(), ownerClient.top() - ownerFrame.top(),
                           ownerFrame.right() - ownerClient.right(),
                           ownerFrame.bottom() - ownerClient.bottom());
    const QSize frame = window->size().grownBy(margins);
    const QPoint frameTopLeft(ownerFrame.x() + (ownerFrame.width() - frame.width()) / 2,
                              ownerFrame.y() + (ownerFrame.height() - frame.height()) / 2);
    // Until the window manager has framed the window, Qt places its client
    // area; afterwards, its frame.
    const bool framed = window->frameGeometry() != window->geometry();
    window->move(framed ? frameTopLeft : frameTopLeft + QPoint(margins.left(), margins.top()));
    if (followWhilePlaced)
        new FollowOwnerWhilePlaced(const_cast<QWidget *>(owner), window);
}

} // namespace tavlo
