#include "ui/style/quietscrollbar.h"

namespace tavlo {

void QuietScrollBar::sliderChange(SliderChange change)
{
    // A plain-text editor sets its scroll bar's steps again for every new
    // text, and each time the bar would be repainted (with its parents behind
    // it). The page step is drawn only as the handle's length, and only while
    // there is something to scroll.
    if (change == SliderStepsChange) {
        const int shown = maximum() > minimum() ? pageStep() : -1;
        if (shown == m_shownPageStep)
            return;
        m_shownPageStep = shown;
    } else if (change == SliderRangeChange) {
        m_shownPageStep = maximum() > minimum() ? pageStep() : -1;
    }
    QScrollBar::sliderChange(change);
}

} // namespace tavlo
