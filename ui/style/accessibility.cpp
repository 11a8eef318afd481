#include "ui/style/accessibility.h"

#include <QAccessibleWidget>
#include <QDialog>
#include <QMessageBox>

namespace tavlo {
namespace {

class ModalWindow : public QAccessibleWidget
{
public:
    using QAccessibleWidget::QAccessibleWidget;
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.modal = widget()->isModal();
        return s;
    }
};

QAccessibleInterface *describe(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget || !widget->isWindow())
        return nullptr;
    if (qobject_cast<QMessageBox *>(object))
        return new ModalWindow(widget, QAccessible::AlertMessage, widget->windowTitle());
    if (qobject_cast<QDialog *>(object))
        return new ModalWindow(widget, QAccessible::Dialog, widget->windowTitle());
    // A plain top-level window (popups such as menus keep their own).
    if (widget->windowType() == Qt::Window)
        return new QAccessibleWidget(widget, QAccessible::Window, widget->windowTitle());
    return nullptr;
}

} // namespace

void InstallAccessibility()
{
    QAccessible::installFactory(describe);
}

} // namespace tavlo
