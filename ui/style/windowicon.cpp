#include "ui/style/windowicon.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QTimer>
#include <QWidget>

// The resources live in a static library; the linker keeps them only when
// asked for by name, from outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(tavlo);
}

namespace tavlo {
namespace {

// The icon built into the program: the name packaging/tavlo.qrc gives it.
const QString kIconResource = QStringLiteral(":/org.example.tavlo.png");

class IconAfterFirstPaint : public QObject
{
public:
    explicit IconAfterFirstPaint(QWidget *window) : QObject(window) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                InitResources();
                QApplication::setWindowIcon(QIcon(kIconResource));
                deleteLater();
            });
        }
        return false;
    }
};

} // namespace

void SetWindowIconAfterFirstPaint(QWidget &window)
{
    window.installEventFilter(new IconAfterFirstPaint(&window));
}

} // namespace tavlo
