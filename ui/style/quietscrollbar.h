#pragma once
// A scroll bar that repaints only when what it shows has changed.
#include <QScrollBar>

namespace tavlo {

class QuietScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;

private:
    int m_shownPageStep = -2; // the handle length last drawn; -1: no handle
};

} // namespace tavlo
