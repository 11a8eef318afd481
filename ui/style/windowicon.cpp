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

class IconAfterFirstPaint : public QObject
{
public:
    IconAfterFirstPaint(QWidget *window, const QString &name) : QObject(window), m_name(name) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                InitResources();
                QApplication::setWindowIcon(QIcon::fromTheme(m_name, QIcon(QStringLiteral(":/org.example.tavlo.png"))));
                deleteLater();
            });
        }
        return false;
    }

private:
    QString m_name;
};

} // namespace

void SetWindowIconAfterFirstPaint(QWidget &window, const QString &name)
{
    window.installEventFilter(new IconAfterFirstPaint(&window, name));
}

} // namespace tavlo
