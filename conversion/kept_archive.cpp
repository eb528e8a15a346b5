#include "conversion/kept_archive.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "conversion/list_logs.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/reading/kept_list.h"
#include "conversion/script/byte_sink.h"
#include "conversion/script/replacement_file.h"

namespace tsry {

std::filesystem::path ArchiveLock(const std::filesystem::path& path) {
    std::filesystem::path lock = ReplacedFile(path);
    if (!lock.empty()) lock += ".lock";
    return lock;
}

KeptArchive::KeptArchive(std::filesystem::path path) : path_(std::move(path)) {
    if (path_.empty() || path_ == std::filesystem::path(kStandardOutput)) {
        throw ConversionError("The archive must be a file: " + QuotedPath(path_) +
                              " cannot be read and replaced.");
    }
    const std::filesystem::path lock = ArchiveLock(path_);
    std::error_code error;
    if (lock.empty() || !std::filesystem::is_directory(lock.parent_path(), error)) {
        throw ConversionError("Cannot keep the archive " + QuotedPath(path_) +
                              ": its folder does not exist");
    }
    lock_ = std::make_unique<platform::FileLock>(lock, "the archive");
}

void KeptArchive::Read(SetRecords& records) { ReadKeptList(path_, records.table, records.places); }

namespace {

// Hands the bytes of a new archive on, comparing them with the file that
// holds the archive now, until the first that differs.
class ComparingSink final : public ByteSink {
  public:
    ComparingSink(ByteSink& next, const std::filesystem::path& old)
        : next_(next), old_(old, std::ios::binary), same_(static_cast<bool>(old_)) {}

    void Write(std::string_view bytes) override {
        next_.Write(bytes);
        while (same_ && !bytes.empty()) {
            const std::size_t size = std::min(bytes.size(), sizeof(piece_));
            old_.read(piece_, static_cast<std::streamsize>(size));
            same_ = static_cast<std::size_t>(old_.gcount()) == size &&
                    std::memcmp(piece_, bytes.data(), size) == 0;
            bytes.remove_prefix(size);
        }
    }

    // Whether the bytes written are the old file's, every one, and all.
    // Closes the old file, which Windows will not rename over while open.
    [[nodiscard]] bool Finish() {
        const bool same = same_ && old_.peek() == std::ifstream::traits_type::eof() && !old_.bad();
        old_.close();
        return same;
    }

  private:
    ByteSink& next_;
    std::ifstream old_;
    bool same_;
    char piece_[std::size_t{64} << 10];
};

}  // namespace

void KeptArchive::Replace(const SetRecords& records) {
    ReplacementFile archive(path_, "archive");
    if (archive.direct()) {
        WriteList(records, archive);
        archive.Commit();
        return;
    }
    // A run that read nothing new leaves the archive as it is, its time
    // included, instead of flushing the same bytes to the disk again: the
    // new list is compared, byte for byte and whole, with the file it
    // would replace, and its temporary file dropped.
    ComparingSink compared(archive, ReplacedFile(path_));
    WriteList(records, compared);
    if (compared.Finish()) return;
    archive.Commit();
}

void RefuseToKeepALog(const LogSet& logs, const std::filesystem::path& archive,
                      const std::filesystem::path& output) {
    RefuseToOverwriteALog(logs, archive, "archive");
    const std::optional<platform::FileIdentity> kept = platform::OutputIdentity(archive);
    const std::filesystem::path final = ReplacedFile(archive);
    const bool same = kept ? kept == platform::OutputIdentity(output)
                           : !final.empty() && final == ReplacedFile(output);
    if (same) {
        throw ConversionError("the archive " + QuotedPath(archive) + " and the output " +
                              QuotedPath(output) + " are one file: name two");
    }
}

}  // namespace tsry
