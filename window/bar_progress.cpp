#include "window/bar_progress.h"

#include <QProgressBar>

namespace tsry {

void BarProgress::Show() {
    // Painted only from here, at the pace BarScale sets.
    bar_->setUpdatesEnabled(false);
    bar_->show();
    Paint();
    scale_.Painted();
}

void BarProgress::Hide() {
    bar_->setUpdatesEnabled(true);
    bar_->hide();
}

void BarProgress::Paint() {
    bar_->setUpdatesEnabled(true);
    bar_->repaint();
    bar_->setUpdatesEnabled(false);
}

void BarProgress::Redraw() {
    if (scale_.busy()) {
        if (bar_->maximum() != 0) bar_->setRange(0, 0);
    } else {
        if (bar_->maximum() != kResolution) bar_->setRange(0, kResolution);
        if (scale_.shown() != bar_->value()) bar_->setValue(scale_.shown());
    }
    if (bar_->isVisible() && scale_.PaintDue()) Paint();
}

}  // namespace tsry
