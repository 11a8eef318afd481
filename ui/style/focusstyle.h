#pragma once
// Draws where the keyboard focus is, whatever the style and however the
// focus got there.
#include <QProxyStyle>

namespace tavlo {

// Most styles draw the focus frame only after the user has moved the focus
// with the keyboard, and Fusion draws a focused button exactly like the
// default button. This style draws a dotted frame inside the focused button
// and around the list's current date, and outlines the editor while it has
// the focus (with its whole text selected, nothing else shows it).
class FocusStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
};

} // namespace tavlo
