#include "ui/windowframe.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace tavlo {
namespace {

// Some window managers (openbox among them) offer minimise for every
// dialog, whatever the hints ask. A minimised modal dialog would leave its
// owner blocked with nothing to click, so it comes straight back.
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
                window->showNormal();
                window->activateWindow();
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
}

void CentreOnOwner(QWidget *window)
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
}

} // namespace tavlo
