#include "conversion/follow_logs.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conversion/kept_archive.h"
#include "conversion/platform/conversion_error.h"
#include "conversion/platform/platform.h"
#include "conversion/read_log_set.h"
#include "conversion/reading/followed_log.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/open_log.h"
#include "conversion/records/record_table.h"
#include "conversion/scans/line_scan.h"

namespace tsry {

namespace {

using Clock = std::chrono::steady_clock;

// Files rotated away and read to their end, remembered for a while so that
// one found again under its new name in a folder goes on where it stopped.
constexpr std::size_t kRotatedKept = 16;

// How often a script that cannot be replaced is tried before the follower
// gives up.
constexpr int kWriteAttempts = 10;

// Where the lines of the table stand. The table numbers its lines from 1 on,
// across every file and every start of a file; each piece of a file read in
// one go is a stretch of those numbers. Stretches that no record points to
// any more are dropped, so that their number follows the names.
class LineSources {
  public:
    // Lines numbered from `first` on are lines `fileLine`, ... of `log`.
    void Add(std::uint64_t first, const std::filesystem::path& log, std::uint64_t fileLine) {
        if (!stretches_.empty()) {
            const Stretch& last = stretches_.back();
            if (last.log == log && last.fileLine + (first - last.first) == fileLine) return;
        }
        stretches_.push_back({first, log, fileLine});
    }

    [[nodiscard]] std::string Name(std::uint64_t line) const {
        const Stretch& at = Find(line);
        return PathText(at.log) + ":" + std::to_string(at.fileLine + (line - at.first));
    }

    // Keeps the stretches that a record of `table` points to, and the last.
    void Prune(const RecordTable& table) {
        std::vector<bool> used(stretches_.size(), false);
        if (!used.empty()) used.back() = true;
        for (std::size_t i = 0; i < table.size(); ++i) {
            used[static_cast<std::size_t>(&Find(table.LineOf(i)) - stretches_.data())] = true;
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < stretches_.size(); ++i) {
            if (used[i]) stretches_[kept++] = std::move(stretches_[i]);
        }
        stretches_.resize(kept);
    }

  private:
    struct Stretch {
        std::uint64_t first;
        std::filesystem::path log;
        std::uint64_t fileLine;
    };
    [[nodiscard]] const Stretch& Find(std::uint64_t line) const {
        auto after =
            std::upper_bound(stretches_.begin(), stretches_.end(), line,
                             [](std::uint64_t l, const Stretch& s) { return l < s.first; });
        return *(after == stretches_.begin() ? after : after - 1);
    }
    std::vector<Stretch> stretches_;
};

class Follower final : public FollowedLines {
  public:
    Follower(const FollowSettings& settings, FollowMessages& messages)
        : settings_(settings), messages_(messages) {}

    void Lines(const std::filesystem::path& log, std::string_view block,
               std::uint64_t firstLine) override {
        sources_.Add(lines_ + 1, log, firstLine);
        try {
            lines_ += ExtractBlock(block, lines_, table_, batch_);
        } catch (const RecordError&) {
            // A record line cut short in the block: the rest line by line,
            // that one told and left out.
            const char* cursor = block.data();
            const char* const end = cursor + block.size();
            while (cursor != end) {
                const char* const lineEnd = LineEnd(cursor, end);
                ++lines_;
                try {
                    ExtractRecord({cursor, static_cast<std::size_t>(lineEnd - cursor)}, lines_,
                                  table_);
                } catch (const RecordError& e) {
                    messages_.Say(sources_.Name(lines_) + ": " + e.detail() + "; left out");
                }
                cursor = SkipLineEnd(lineEnd, end);
            }
        }
        changed_ = true;
    }

    void CutShort(const std::filesystem::path& log, std::uint64_t line) override {
        messages_.Say(PathText(log) + ":" + std::to_string(line) +
                      ": the line was cut short (the log started anew before its end); left out");
    }

    // Looks at every log once.
    void LookAll() {
        Expand();
        for (auto& log : logs_) {
            try {
                log->Look(*this, rotated_);
            } catch (const ConversionError& e) {
                SayOnce(e.what());
            }
            if (std::optional<ReadPosition> position = log->TakeRotated()) {
                rotated_.push_back(std::move(*position));
                if (rotated_.size() > kRotatedKept) rotated_.erase(rotated_.begin());
            }
        }
        // Files gone from their folders, read to their end above.
        std::erase_if(logs_, [&](const auto& log) { return !present_.contains(log->path()); });
    }

    // Reads standard input to its end, writing when due.
    void ReadStandardInput() {
        OpenLog log{std::filesystem::path(platform::kStandardInput)};
        LineReader reader(log.lines());
        std::string_view block;
        std::uint64_t lines = 0;
        while (!platform::StopRequested() && reader.NextBlock(block)) {
            Lines(platform::kStandardInput, block, lines + 1);
            lines += CountLines(block.data(), block.data() + block.size());
            if (Due()) Write();
        }
    }

    [[nodiscard]] bool changed() const noexcept { return changed_; }
    // The first records are written at once, later ones once `every` has
    // passed since the last write.
    [[nodiscard]] bool Due() const {
        return changed_ && (!written_ || Clock::now() - *written_ >=
                                             std::chrono::duration<double>(settings_.every));
    }
    // How long to wait before the next look.
    [[nodiscard]] double Pause() const {
        double pause = settings_.lookEvery;
        if (changed_ && written_) {
            const std::chrono::duration<double> left =
                *written_ + std::chrono::duration<double>(settings_.every) - Clock::now();
            pause = std::clamp(left.count(), 0.0, pause);
        }
        return pause;
    }

    // Writes the archive (where kept) and the script of the records read so
    // far, or says why the script cannot be written and keeps the old one.
    void Write() {
        changed_ = false;
        written_ = Clock::now();
        sources_.Prune(table_);
        SetRecords merged;
        std::optional<KeptArchive> archive;
        if (!settings_.archive.empty()) archive.emplace(settings_.archive).Read(merged);
        const std::uint64_t archived = merged.places.lines();
        // The records followed, after the archive's, as rows that name where
        // each was logged.
        KeptOrigins origins;
        for (std::size_t i = 0; i < table_.size(); ++i) {
            origins.Add(sources_.Name(table_.LineOf(i)));
            merged.table.Store(table_[i], archived + i + 1);
        }
        merged.places.AddKept(settings_.archive, table_.size(), std::move(origins));
        if (archive) {
            archive->Replace(merged);
            archive.reset();  // another run may take its turn
        }
        // A program that reads the script just then (on Windows, one that
        // holds it open) is waited for a little.
        for (int attempt = 1;; ++attempt) {
            try {
                WriteScriptFile(merged.table, settings_.output, settings_.layout);
                refused_.clear();
                return;
            } catch (const RecordError& e) {
                // A row of the archive by its line and source, a record
                // followed by where it was logged.
                const std::string place = e.line() <= archived ? merged.places.Name(e.line())
                                                               : merged.places.Source(e.line());
                const std::string message = place + ": " + e.detail() +
                                            "; the script is kept as it was until a later "
                                            "record mends this one";
                if (message != refused_) messages_.Say(message);
                refused_ = message;
                return;
            } catch (const ConversionError&) {
                if (attempt == kWriteAttempts) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
    }

  private:
    // The files the logs given stand for now: a file as it is, a folder as
    // the files beneath it at this moment.
    void Expand() {
        present_.clear();
        for (const std::filesystem::path& given : settings_.logs) {
            if (given == std::filesystem::path(platform::kStandardInput)) continue;
            std::error_code error;
            LogSet found{given};
            if (std::filesystem::is_directory(given, error)) {
                try {
                    found = ExpandLogSetFor({given}, WrittenFiles());
                } catch (const ConversionError& e) {
                    // Nothing beneath it yet, or a folder that cannot be
                    // read: told once, and looked at again.
                    SayOnce(e.what());
                    found.clear();
                }
            }
            for (std::filesystem::path& file : found) {
                if (present_.insert(file).second &&
                    std::none_of(logs_.begin(), logs_.end(),
                                 [&](const auto& log) { return log->path() == file; })) {
                    logs_.push_back(std::make_unique<FollowedLog>(std::move(file)));
                }
            }
        }
    }

    // What the follower writes, left out of the folders.
    [[nodiscard]] std::vector<std::filesystem::path> WrittenFiles() const {
        std::vector<std::filesystem::path> files{settings_.output};
        if (!settings_.archive.empty()) files.push_back(settings_.archive);
        return files;
    }

    void SayOnce(const std::string& message) {
        if (said_.insert(message).second) messages_.Say(message);
    }

    const FollowSettings& settings_;
    FollowMessages& messages_;
    RecordTable table_;
    std::vector<PendingRecord> batch_;
    LineSources sources_;
    std::uint64_t lines_ = 0;
    std::vector<std::unique_ptr<FollowedLog>> logs_;
    std::set<std::filesystem::path> present_;
    std::vector<ReadPosition> rotated_;
    std::set<std::string> said_;
    std::string refused_;
    bool changed_ = false;
    std::optional<Clock::time_point> written_;
};

}  // namespace

void FollowLogs(const FollowSettings& settings, FollowMessages& messages) {
    try {
        platform::CatchStops();
        // The script must not take the place of a log. A log that is not
        // there yet (the server not started, a folder still empty) is waited
        // for.
        std::vector<std::filesystem::path> written{settings.output};
        if (!settings.archive.empty()) {
            RefuseToKeepALog({}, settings.archive, settings.output);
            written.push_back(settings.archive);
        }
        for (const std::filesystem::path& given : settings.logs) {
            std::error_code error;
            if (given != std::filesystem::path(platform::kStandardInput) &&
                !std::filesystem::exists(given, error)) {
                continue;
            }
            LogSet found;
            try {
                found = ExpandLogSetFor({given}, written);
            } catch (const ConversionError&) {
                continue;
            }
            RefuseToOverwriteALog(found, settings.output);
            if (!settings.archive.empty()) {
                RefuseToOverwriteALog(found, settings.archive, "archive");
            }
        }
        Follower follower(settings, messages);
        follower.LookAll();
        const bool standardInput =
            std::find(settings.logs.begin(), settings.logs.end(),
                      std::filesystem::path(platform::kStandardInput)) != settings.logs.end();
        if (standardInput) {
            follower.ReadStandardInput();
        } else {
            follower.Write();
            while (!platform::StopRequested()) {
                platform::PauseUnlessStopped(follower.Pause());
                follower.LookAll();
                if (follower.Due()) follower.Write();
            }
            // What came just before the stop.
            follower.LookAll();
        }
        if (follower.changed() || standardInput) follower.Write();
    } catch (...) {
        RethrowAsConversionError();
    }
}

}  // namespace tsry
