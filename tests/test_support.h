#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/parse_log.h"
#include "conversion/reading/line_reader.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"

namespace tsry::test {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    [[nodiscard]] std::filesystem::path operator/(std::string_view name) const {
        return path_ / name;
    }
    // Names of the entries in the directory, sorted.
    [[nodiscard]] std::vector<std::string> Entries() const;

  private:
    std::filesystem::path path_;
};

// Makes `folder` the current folder for the life of the object, as a user
// runs the programs in a server's folder.
class InFolder {
  public:
    explicit InFolder(const std::filesystem::path& folder);
    ~InFolder();
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    std::filesystem::path previous_;
};

// Sets a knob for the life of the object, then puts back what it was.
template <class T>
class ScopedSetting {
  public:
    ScopedSetting(T& knob, T value) : knob_(knob), saved_(knob) { knob_ = value; }
    ~ScopedSetting() { knob_ = saved_; }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

  private:
    T& knob_;
    T saved_;
};

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
[[nodiscard]] std::string ReadFile(const std::filesystem::path& path);
// Adds `text` at the end of the file at `path`, as a server writes its log.
void Append(const std::filesystem::path& path, std::string_view text);
// The log line, with its CR LF, of an INT record of `name` holding `value`.
[[nodiscard]] std::string Rec(std::string_view name, std::string_view value);

// Serves a string in pieces of the given sizes, in turn, so that tests can put
// read boundaries anywhere; `keeping`, as a mapped file does, with the end of
// the previous piece in front when asked.
class ChunkedSource final : public ByteSource {
  public:
    ChunkedSource(std::string data, std::vector<std::size_t> pieces, bool keeping = false);
    std::string_view NextChunk() override;
    [[nodiscard]] bool CanKeep() const noexcept override { return keeping_; }
    std::string_view NextChunkKeeping(std::size_t keep) override;

  private:
    std::string data_;
    std::vector<std::size_t> pieces_;
    std::size_t offset_ = 0;
    std::size_t next_ = 0;
    bool keeping_;
    std::string chunk_;  // a copy, so that reading past a chunk is caught by the sanitizers
};

// Records every progress call, for checking the order and the sums.
class RecordingProgress final : public ProgressSink {
  public:
    struct BytesRead {
        std::uint64_t bytes;
        std::uint64_t size;
    };

    void SetMinimum(double value) override { calls.push_back("min " + Number(value)); }
    void SetMaximum(double value) override { calls.push_back("max " + Number(value)); }
    void SetValue(double value) override {
        calls.push_back("value " + Number(value));
        values.push_back(value);
    }
    void Show() override { calls.emplace_back("show"); }
    void Hide() override { calls.emplace_back("hide"); }
    void SetBytesRead(std::uint64_t bytes, std::uint64_t size) override {
        bytesRead.push_back({bytes, size});
    }

    std::vector<std::string> calls;
    std::vector<double> values;
    std::vector<BytesRead> bytesRead;

  private:
    static std::string Number(double value);
};

class RecordingStatus final : public StatusText {
  public:
    void SetText(std::string_view value) override { texts.emplace_back(value); }
    std::vector<std::string> texts;
};

// Runs a shell command; its exit status (-1 if it did not exit), and what it
// wrote to standard output. POSIX only.
int Shell(const std::string& command, std::string* output = nullptr);

// The system's reason for a fault, as messages quote it.
enum class Fault { kNoSuchFile, kNoSuchFolder, kIsADirectory, kNoPermission };

// A folder that cannot be read for the life of the object: its
// permissions taken away, and on this thread root's privilege to read any
// folder whatever they say, as a folder of another user's cannot be read.
// applies() is false where the system does not allow that (Wine's programs).
// `listable`: its names can be listed, but nothing beneath it looked at
// (mode 0444).
class UnreadableFolder {
  public:
    explicit UnreadableFolder(std::filesystem::path folder, bool listable = false);
    ~UnreadableFolder();
    UnreadableFolder(const UnreadableFolder&) = delete;
    UnreadableFolder& operator=(const UnreadableFolder&) = delete;

    [[nodiscard]] bool applies() const noexcept { return applies_; }

  private:
    std::filesystem::path folder_;
    bool applies_ = false;
    bool privileged_ = false;  // root's privilege was taken away, and comes back
};
[[nodiscard]] std::string SystemText(Fault fault);

// The 13 opening lines and the 2 closing lines of every script.
[[nodiscard]] std::string ScriptOpening();
[[nodiscard]] std::string ScriptClosing();

// A log of five lines, two names (one of them twice) that the window tests
// convert, and its script.
inline constexpr std::string_view kWindowLog =
    "[t] start\r\n[t] <TS_RY>INT#gold#150#0#0#x#\r\n[t] <TS_RY>STR#title#Sir#0#0#x#\r\n"
    "[t] <TS_RY>INT#gold#200#1#2#y#\r\n[t] end";
[[nodiscard]] std::string WindowLogScript();

// The script in parts, each part holding the statement lines given.
[[nodiscard]] std::string PartsScript(const std::vector<std::vector<std::string>>& parts);

// A log of 4097 records, v0 to v4096 each 1, one more than the game may run in
// one main, and its script, in parts of 2000.
[[nodiscard]] std::string LargeRestoreLog();
[[nodiscard]] std::string LargeRestoreScript();

// A log of one record, gold = 150, and its script.
inline constexpr std::string_view kGoldLog = "[t] <TS_RY>INT#gold#150#0#0#0#\r\n";
[[nodiscard]] std::string GoldScript();

// `text` as one gzip member, as gzip writes it.
[[nodiscard]] std::string Gzip(std::string_view text);

// Lines joined with CR LF after each.
[[nodiscard]] std::string CrLf(const std::vector<std::string>& lines);

}  // namespace tsry::test
