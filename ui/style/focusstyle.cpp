#include "ui/style/focusstyle.h"

#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleOption>

namespace tavlo {

void FocusStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    if (element == PE_FrameFocusRect) {
        painter->save();
        QPen pen(option->palette.color(QPalette::WindowText), 1, Qt::DotLine);
        pen.setCosmetic(true);
        painter->setPen(pen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const auto *editor = qobject_cast<const QPlainTextEdit *>(widget);
    if (element == PE_Frame && editor && !editor->isReadOnly() && (option->state & State_HasFocus)) {
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::Active, QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(1, 1, -1, -1));
        painter->restore();
    }
}


void FocusStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                             const QWidget *widget) const
{
    const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (element != CE_PushButton || !button || !(option->state & State_HasFocus)) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    // The style's own focus look stays off, so that the default button's
    // frame is never mistaken for the focus.
    QStyleOptionButton unfocused(*button);
    unfocused.state &= ~State_HasFocus;
    QProxyStyle::drawControl(element, &unfocused, painter, widget);
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(*button);
    focus.rect = subElementRect(SE_PushButtonFocusRect, button, widget);
    drawPrimitive(PE_FrameFocusRect, &focus, painter, widget);
}

} // namespace tavlo
