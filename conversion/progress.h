#pragma once

#include <cstdint>
#include <string_view>

// What a run reports to while it runs: a progress bar and a status line.

namespace tsry {

// The progress bar a run drives. Values are whole numbers of steps: one per
// log line read, then one per record written.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void SetMinimum(double value) = 0;
    virtual void SetMaximum(double value) = 0;
    virtual void SetValue(double value) = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // How much of the log has been read, in bytes, while it is read; `size`
    // is the size of a plain file, or 0 for a stream. For a bar that follows
    // the reading itself, where the line count is not known.
    virtual void SetBytesRead(std::uint64_t /*bytes*/, std::uint64_t /*size*/) {}
};

// The status text a run sets when it succeeds: one line, or two separated by
// "\n" for a script in parts.
class StatusText {
  public:
    virtual ~StatusText() = default;
    virtual void SetText(std::string_view text) = 0;
};

// A ProgressSink and StatusText that ignore everything.
class NoProgress final : public ProgressSink {
  public:
    void SetMinimum(double) override {}
    void SetMaximum(double) override {}
    void SetValue(double) override {}
    void Show() override {}
    void Hide() override {}
};
class NoStatus final : public StatusText {
  public:
    void SetText(std::string_view) override {}
};

}  // namespace tsry
