#pragma once

#include <QElapsedTimer>
#include <cstdint>

#include "conversion/parse_log.h"

class QProgressBar;

namespace tsry {

// Drives a QProgressBar from a conversion run. The run's counts can pass any
// int range, so the bar shows them in thousandths of the range. The run holds
// the event loop, so the bar is repainted at once, but only when what it shows
// has changed and at most every kPaintInterval milliseconds: a long run moves
// it smoothly, and painting costs the run next to nothing. A range maximum of
// 0 shows a busy bar; a value past the maximum shows a full one.
class BarProgress final : public ProgressSink {
  public:
    static constexpr int kResolution = 1000;
    static constexpr qint64 kPaintInterval = 50;

    explicit BarProgress(QProgressBar* bar);

    void SetMinimum(double value) override;
    void SetMaximum(double value) override;
    void SetValue(double value) override;
    void Show() override;
    void Hide() override;

    // The last step count the run reported.
    [[nodiscard]] std::uint64_t progressCount() const noexcept { return progressCount_; }

  private:
    void Update();
    void Paint();

    QProgressBar* bar_;
    QElapsedTimer sincePaint_;
    int painted_ = -2;
    double minimum_ = 0;
    double maximum_ = 0;
    double value_ = 0;
    std::uint64_t progressCount_ = 0;
};

}  // namespace tsry
