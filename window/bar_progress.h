#pragma once

#include "window/form_commands.h"

class QProgressBar;

namespace tsry {

// Drives a QProgressBar from a conversion run, as BarScale says: thousandths
// of the range, a busy bar for an empty range, painted at once (the run holds
// the event loop) but only at BarScale's pace.
class BarProgress final : public ScaledBar {
  public:
    static constexpr int kResolution = BarScale::kResolution;
    static constexpr int kPaintInterval = BarScale::kPaintInterval;

    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}

    void Show() override;
    void Hide() override;

  private:
    void Redraw() override;
    void Paint();

    QProgressBar* bar_;
};

}  // namespace tsry
