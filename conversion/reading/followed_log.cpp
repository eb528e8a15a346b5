#include "conversion/reading/followed_log.h"

#include <algorithm>
#include <utility>

#include "conversion/platform/conversion_error.h"
#include "conversion/reading/gzip_source.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/open_log.h"
#include "conversion/scans/line_scan.h"

namespace tsry {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 20;

// `kept` followed by `more`, cut to its last kGuardBytes bytes.
void KeepLast(std::string& kept, std::string_view more) {
    constexpr std::size_t kMost = ReadPosition::kGuardBytes;
    if (more.size() >= kMost) {
        kept.assign(more.substr(more.size() - kMost));
        return;
    }
    kept.append(more);
    if (kept.size() > kMost) kept.erase(0, kept.size() - kMost);
}

// The start of the file `identity`.
ReadPosition StartOf(platform::FileIdentity identity) {
    ReadPosition position;
    position.identity = identity;
    return position;
}

}  // namespace

FollowedLog::FollowedLog(std::filesystem::path path) : path_(std::move(path)) {}

FollowedLog::~FollowedLog() = default;

std::optional<ReadPosition> FollowedLog::TakeRotated() { return std::exchange(rotated_, {}); }

bool FollowedLog::Look(FollowedLines& to, std::span<const ReadPosition> known) {
    bool handed = false;
    const std::optional<platform::FileLook> look = platform::LookAtFile(path_);
    if (file_) {
        if (!look || !(look->identity == at_.identity)) {
            // Renamed away, deleted or replaced: what the file held open
            // still has is read first, to its end.
            if (!gzip_) {
                handed = ReadOn(to, file_->Size(), true);
                rotated_ = at_;
            }
            Close();
        } else if (gzip_) {
            return look->size != gzipSize_ && ReadGzip(to, *look);
        } else if (!StillTheSame(file_->Size())) {
            // Started anew: an unfinished line of the old text never ends.
            if (waiting_ > 0) to.CutShort(path_, at_.lines + 1);
            at_ = StartOf(at_.identity);
            waiting_ = 0;
        }
    }
    if (!file_) {
        if (!look || !Open(*look, known)) return handed;
        if (gzip_) return ReadGzip(to, *look) || handed;
    }
    return ReadOn(to, file_->Size(), false) || handed;
}

bool FollowedLog::Open(const platform::FileLook& look, std::span<const ReadPosition> known) {
    try {
        file_ = std::make_unique<platform::InputFile>(path_);
    } catch (const ConversionError&) {
        return false;  // gone again between the look and the opening: the next look sees
    }
    at_ = StartOf(file_->identity());
    waiting_ = 0;
    char first[2] = {};
    gzip_ = look.size >= 2 && file_->Read(first, 2, 0) == 2 &&
            StartsLikeGzip(std::string_view(first, 2));
    if (gzip_) return true;
    for (const ReadPosition& position : known) {
        if (position.identity == at_.identity) {
            at_ = position;
            if (!StillTheSame(file_->Size())) at_ = StartOf(position.identity);
            break;
        }
    }
    return true;
}

bool FollowedLog::StillTheSame(std::uint64_t size) const {
    if (size < at_.offset) return false;
    std::string now;
    for (const auto& [bytes, offset] : {std::pair{&at_.head, std::uint64_t{0}},
                                        std::pair{&at_.guard, at_.offset - at_.guard.size()}}) {
        now.resize(bytes->size());
        std::size_t got = 0;
        while (got < now.size()) {
            const std::size_t n = file_->Read(now.data() + got, now.size() - got, offset + got);
            if (n == 0) return false;
            got += n;
        }
        if (now != *bytes) return false;
    }
    return true;
}

bool FollowedLog::ReadOn(FollowedLines& to, std::uint64_t size, bool toTheEnd) {
    bool handed = false;
    std::string buffer;  // from at_.offset on
    std::uint64_t read = at_.offset;
    while (read < size) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - read));
        const std::size_t old = buffer.size();
        buffer.resize(old + want);
        const std::size_t got = file_->Read(buffer.data() + old, want, read);
        buffer.resize(old + got);
        if (got == 0) break;  // cut short while read: the next look sees
        read += got;

        std::size_t skip = 0;
        if (at_.afterCr && buffer.front() == '\n') skip = 1;  // the LF of a CR LF
        const char* const begin = buffer.data() + skip;
        const char* const cut = PastLastLineEnd(begin, buffer.data() + buffer.size());
        const auto used = static_cast<std::size_t>(cut - buffer.data());
        if (used == 0) continue;
        const std::string_view block(begin, static_cast<std::size_t>(cut - begin));
        if (!block.empty()) {
            to.Lines(path_, block, at_.lines + 1);
            at_.lines += CountLines(block.data(), block.data() + block.size());
            at_.afterCr = block.back() == '\r';
            handed = true;
        } else {
            at_.afterCr = false;
        }
        const std::string_view consumed(buffer.data(), used);
        if (at_.head.size() < ReadPosition::kGuardBytes) {
            at_.head.append(consumed.substr(0, ReadPosition::kGuardBytes - at_.head.size()));
        }
        KeepLast(at_.guard, consumed);
        at_.offset += used;
        buffer.erase(0, used);
    }
    waiting_ = buffer.size();
    if (toTheEnd && waiting_ > 0) to.CutShort(path_, at_.lines + 1);
    return handed;
}

bool FollowedLog::ReadGzip(FollowedLines& to, const platform::FileLook& look) {
    gzipSize_ = look.size;
    OpenLog log(path_);
    LineReader reader(log.lines());
    std::uint64_t lines = 0;
    std::string_view block;
    while (reader.NextBlock(block)) {
        to.Lines(path_, block, lines + 1);
        lines += CountLines(block.data(), block.data() + block.size());
    }
    return lines > 0;
}

void FollowedLog::Close() {
    file_.reset();
    gzip_ = false;
    at_ = {};
    waiting_ = 0;
}

}  // namespace tsry
