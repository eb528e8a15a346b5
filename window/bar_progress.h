#pragma once

#include <cstdint>

#include "conversion/parse_log.h"
#include "window/form_commands.h"

class QProgressBar;

namespace tsry {

// Drives a QProgressBar from a conversion run, as BarScale says: thousandths
// of the range, a busy bar for an empty range, painted at once (the run holds
// the event loop) but only at BarScale's pace.
class BarProgress final : public ProgressSink {
  public:
    static constexpr int kResolution = BarScale::kResolution;
    static constexpr int kPaintInterval = BarScale::kPaintInterval;

    explicit BarProgress(QProgressBar* bar) : bar_(bar) {}

    void SetMinimum(double value) override;
    void SetMaximum(double value) override;
    void SetValue(double value) override;
    void Show() override;
    void Hide() override;

    // The last step count the run reported.
    [[nodiscard]] std::uint64_t progressCount() const noexcept { return scale_.progressCount(); }

  private:
    void Update();
    void Paint();

    QProgressBar* bar_;
    BarScale scale_;
};

}  // namespace tsry
