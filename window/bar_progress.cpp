#include "window/bar_progress.h"

#include <QProgressBar>

namespace tsry {

BarProgress::BarProgress(QProgressBar* bar) : bar_(bar) {}

void BarProgress::SetMinimum(double value) {
    minimum_ = value;
    Update();
}

void BarProgress::SetMaximum(double value) {
    maximum_ = value;
    Update();
}

void BarProgress::SetValue(double value) {
    value_ = value;
    progressCount_ = value > 0 ? static_cast<std::uint64_t>(value) : 0;
    Update();
}

void BarProgress::Show() {
    // Painted only from here, at the pace chosen below.
    bar_->setUpdatesEnabled(false);
    bar_->show();
    Paint();
}

void BarProgress::Hide() {
    bar_->setUpdatesEnabled(true);
    bar_->hide();
}

void BarProgress::Paint() {
    bar_->setUpdatesEnabled(true);
    bar_->repaint();
    bar_->setUpdatesEnabled(false);
    painted_ = bar_->maximum() == 0 ? -1 : bar_->value();
    sincePaint_.start();
}

void BarProgress::Update() {
    const double span = maximum_ - minimum_;
    if (!(span > 0)) {
        if (bar_->maximum() != 0) bar_->setRange(0, 0);  // busy
    } else {
        if (bar_->maximum() != kResolution) bar_->setRange(0, kResolution);
        const double share = (value_ - minimum_) / span;
        const int shown = share <= 0   ? 0
                          : share >= 1 ? kResolution
                                       : static_cast<int>(share * kResolution);
        if (shown != bar_->value()) bar_->setValue(shown);
    }
    const int now = bar_->maximum() == 0 ? -1 : bar_->value();
    if (bar_->isVisible() && now != painted_ && sincePaint_.elapsed() >= kPaintInterval) Paint();
}

}  // namespace tsry
