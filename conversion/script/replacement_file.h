#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "conversion/script/byte_sink.h"

namespace tsry {

// The output path that stands for standard output.
inline constexpr std::string_view kStandardOutput = "-";

// The file a script is written to, replaced whole or not at all.
//
// A plain file (or a new one) is written to a temporary file beside it, named
// "<name>.tmp.XXXXXX" (six random characters; the name cut short where the
// whole would be too long), which Commit() flushes to the disk and renames
// over it. The new file keeps the permissions of the one it replaces, and its
// owner and group where the process may set them; a new file gets the mode of
// any file created here. A symbolic link on the way is followed, and the file
// it finally points to is replaced, the link left as it was. If Commit() is
// not reached or fails, the temporary file is removed and the target keeps its
// exact content.
//
// Anything that cannot be replaced, a device or a pipe, and kStandardOutput,
// is written to directly.
//
// Messages name the file by `what` it is to the user: "the script", "the
// list", "the archive".
class ReplacementFile final : public ByteSink {
  public:
    explicit ReplacementFile(std::filesystem::path target, std::string_view what = "script");
    ~ReplacementFile() override;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    void Write(std::string_view bytes) override;
    void Commit();

    // Whether the bytes go straight to the target, with nothing to roll back.
    [[nodiscard]] bool direct() const noexcept { return direct_; }

  private:
    void Discard() noexcept;

    std::filesystem::path target_;  // as the user named it, for messages
    std::string what_;
    std::filesystem::path final_;  // the file replaced, links followed
    std::filesystem::path temp_;
    std::intptr_t handle_ = -1;
    bool direct_ = false;
    bool ownsHandle_ = true;
    bool replacing_ = false;  // final_ exists and is replaced
};

// The file that a ReplacementFile of `target` replaces or creates: absolute,
// links followed (a link that points nowhere yet, to where it points). Empty
// where that cannot be known.
[[nodiscard]] std::filesystem::path ReplacedFile(const std::filesystem::path& target);

// The temporary files that a ReplacementFile of `target` writes: beside the
// file it replaces (links followed), named "<name>.tmp." and six letters or
// digits. A run's own, or one that a run killed outright left behind.
class TemporaryFilesOf {
  public:
    explicit TemporaryFilesOf(const std::filesystem::path& target);
    // Whether `file` is one of them.
    [[nodiscard]] bool Holds(const std::filesystem::path& file) const;

  private:
    std::filesystem::path folder_;                // empty when it cannot be known
    std::filesystem::path::string_type pattern_;  // the name, its random part "XXXXXX"
};

namespace detail {
// The name of the temporary file for `target`, with `suffix` as its random
// part, within the longest file name a folder takes.
std::filesystem::path TemporaryName(const std::filesystem::path& target, std::string_view suffix);
// Six random letters and digits.
std::string RandomSuffix(std::mt19937_64& random);
}  // namespace detail

}  // namespace tsry
