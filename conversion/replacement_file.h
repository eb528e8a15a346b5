#pragma once

#include <filesystem>
#include <string_view>

#include "conversion/script_writer.h"

namespace tsry {

// A file that replaces its target whole or not at all. Bytes go to a temporary
// file beside the target, named "<target>.tmp.XXXXXX" (six random characters);
// Commit() flushes it to the disk and renames it over the target. If Commit()
// is not reached or fails, the temporary file is removed and the target keeps
// its exact content.
class ReplacementFile final : public ByteSink {
  public:
    explicit ReplacementFile(std::filesystem::path target);
    ~ReplacementFile() override;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    void Write(std::string_view bytes) override;
    void Commit();

  private:
    void Discard() noexcept;

    std::filesystem::path target_;
    std::filesystem::path temp_;
    int fd_ = -1;
};

}  // namespace tsry
