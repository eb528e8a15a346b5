#include "conversion/reading/gzip_source.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/platform/conversion_error.h"
#include "conversion/reading/file_source.h"
#include "tests/test_support.h"

namespace tsry {
namespace {

using test::Gzip;

using test::ChunkedSource;
using test::ScopedSetting;

const std::filesystem::path kPath = "x.log.gz";

// Ends the test program if it lives longer than a minute, so that a source
// that loops or waits for ever fails the tests instead of stopping them.
class Watchdog {
  public:
    Watchdog()
        : thread_([this] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, std::chrono::minutes(1), [this] { return done_; })) {
                  std::fputs("The GzipSource hangs.\n", stderr);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

// Log lines that compress about as well as a server's.
std::string Text(std::size_t size, std::uint32_t seed = 1) {
    std::string text;
    while (text.size() < size) {
        seed = seed * 1664525u + 1013904223u;
        text += "[12:00:" + std::to_string(seed % 60) + "] <TS_RY>INT#name" +
                std::to_string(seed >> 20) + "#" + std::to_string(seed % 100000) + "#0#0#x#\r\n";
    }
    text.resize(size);
    return text;
}

// Everything `gzip` holds, read through a GzipSource from pieces of the given
// sizes; the first `sniffed` bytes taken from the source by the caller first.
// `out` gets what came out before an error.
std::string Inflate(const std::string& gzip, std::vector<std::size_t> pieces,
                    std::size_t bufferSize, std::size_t sniffed = 0, std::string* out = nullptr) {
    const Watchdog watchdog;
    std::string local;
    std::string& text = out != nullptr ? *out : local;
    if (sniffed > 0) pieces.insert(pieces.begin(), sniffed);
    ChunkedSource compressed(gzip, pieces);
    const std::string_view first = sniffed > 0 ? compressed.NextChunk() : std::string_view();
    GzipSource source(compressed, kPath, first, bufferSize);
    for (std::string_view chunk; !(chunk = source.NextChunk()).empty();) {
        EXPECT_LE(chunk.size(), bufferSize);
        text += chunk;
    }
    source.Finish();
    EXPECT_EQ(source.compressedBytesRead(), gzip.size());
    return text;
}

TEST(GzipSource, StartsLikeGzipOnTheMagicNumberOnly) {
    EXPECT_TRUE(StartsLikeGzip("\x1f\x8b"));
    EXPECT_TRUE(StartsLikeGzip("\x1f\x8b\x08 and the rest"));
    EXPECT_FALSE(StartsLikeGzip(""));
    EXPECT_FALSE(StartsLikeGzip("\x1f"));
    EXPECT_FALSE(StartsLikeGzip("\x8b\x1f"));
    EXPECT_FALSE(StartsLikeGzip("[t] <TS_RY>"));
}

TEST(GzipSource, HandsOutEveryMemberWhateverThePieces) {
    const std::string large = Text(std::size_t{6} << 20);
    const std::string medium = Text(100000, 2);
    const std::string one = Gzip("[t] one\r\n");
    const std::string two = Gzip("[t] two\r\n");
    struct Case {
        const char* name;
        std::vector<std::string> members;
        std::string after;  // bytes after the last member
        std::vector<std::size_t> pieces;
        std::size_t bufferSize = GzipSource::kDefaultBufferSize;
        std::size_t sniffed = 0;  // bytes taken by the caller before
    };
    const Case cases[] = {
        {"one member", {"[t] one\r\n"}, "", {}},
        {"several members, one empty", {"[t] one\r\n", "", "[t] two\r\n", "[t] three"}, "", {}},
        {"a piece ends where a member does", {"[t] one\r\n", "[t] two\r\n"}, "", {one.size()}},
        {"a piece ends after a member's first byte",
         {"[t] one\r\n", "[t] two\r\n"},
         "",
         {one.size() + 1}},
        {"a piece ends after a member's first two bytes",
         {"[t] one\r\n", "[t] two\r\n"},
         "",
         {one.size() + 2}},
        {"zero bytes after the last member", {"[t] one\r\n", "[t] two\r\n"}, {"\0\0\0\0", 4}, {}},
        {"zero bytes in pieces of their own", {"[t] one\r\n"}, {"\0\0\0\0\0", 5}, {one.size(), 2}},
        {"pieces of 1 byte", {medium, "[t] two\r\n", medium}, "", {1}, 1000},
        {"pieces of 7 bytes", {medium, "", medium}, "", {7}, 4096},
        {"pieces of 4096 bytes", {medium, medium}, "", {4096}, 999},
        {"large, both buffers used many times", {large, medium, large}, "", {65536}, 65536},
        {"large, default buffers", {large}, "", {FileSource::kDefaultChunkSize}},
        {"the first bytes taken by the caller", {medium, medium}, "", {4096}, 4096, 2},
        {"the first member taken by the caller",
         {"[t] one\r\n", "[t] two\r\n"},
         "",
         {},
         GzipSource::kDefaultBufferSize,
         one.size()},
    };
    for (const bool own : {false, true}) {
        const ScopedSetting onCallersThread(detail::InflateOnCallersThread(), own);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (own ? ", on the caller's thread" : ""));
            std::string gzip;
            std::string text;
            for (const std::string& member : c.members) {
                gzip += Gzip(member);
                text += member;
            }
            gzip += c.after;
            EXPECT_TRUE(Inflate(gzip, c.pieces, c.bufferSize, c.sniffed) == text);
        }
    }
}

std::string CutShort() {
    return "The log \"x.log.gz\" ends in the middle of its compressed data: it was cut short.";
}
std::string Damaged(const std::string& reason) {
    return "The log \"x.log.gz\" is damaged: its compressed data cannot be read (" + reason + ").";
}
std::string Trailing() {
    return "The log \"x.log.gz\" goes on after its compressed data with bytes that are not "
           "compressed data: it is damaged, or something was added to it.";
}

std::string Flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
    return bytes;
}

TEST(GzipSource, NamesTheFileWhenTheDataIsCutShortOrDamaged) {
    const std::string text = Text(300000);
    const std::string gzip = Gzip(text);
    const std::string one = Gzip("[t] one\r\n");
    const std::size_t size = gzip.size();
    struct Case {
        const char* name;
        std::string gzip;
        std::string message;
        std::size_t handedOut;  // bytes that come out before the error, at least
    };
    const Case cases[] = {
        {"nothing at all", "", CutShort(), 0},
        {"the magic number only", gzip.substr(0, 2), CutShort(), 0},
        {"the header only", gzip.substr(0, 10), CutShort(), 0},
        {"cut in the compressed data", gzip.substr(0, size / 2), CutShort(), text.size() / 4},
        {"cut before the trailer", gzip.substr(0, size - 8), CutShort(), text.size()},
        {"cut in the trailer's check", gzip.substr(0, size - 6), CutShort(), text.size()},
        {"cut in the trailer's length", gzip.substr(0, size - 1), CutShort(), text.size()},
        {"a second member cut short", gzip + one.substr(0, 15), CutShort(), text.size()},
        {"a second member's first byte only", gzip + "\x1f", CutShort(), text.size()},
        {"a byte of the compressed data changed", Flipped(gzip, 100),
         Damaged("invalid distance too far back"), 0},
        {"the check changed", Flipped(gzip, size - 6), Damaged("incorrect data check"),
         text.size()},
        {"the length changed", Flipped(gzip, size - 2), Damaged("incorrect length check"),
         text.size()},
        {"not gzip", "[t] <TS_RY>INT#gold#150#0#0#x#\r\n", Damaged("incorrect header check"), 0},
        {"a second member of an unknown method", one + "\x1f\x8b\x07" + one.substr(3),
         Damaged("unknown compression method"), 9},
        {"text after a member", one + "[t] two\r\n", Trailing(), 9},
        {"one stray byte after the last member", one + "x", Trailing(), 9},
        {"text after zero bytes", one + std::string(3, '\0') + "[t]", Trailing(), 9},
        {"a member after zero bytes", one + std::string(1, '\0') + one, Trailing(), 9},
        {"half of the magic number, then text", one + "\x1f[t]", Trailing(), 9},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{4096}}) {
            // The caller's thread inflates in pieces of 1.
            const ScopedSetting onCallersThread(detail::InflateOnCallersThread(), piece == 1);
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            std::string out;
            try {
                Inflate(c.gzip, {piece}, 1000, 0, &out);
                ADD_FAILURE() << "no error";
            } catch (const ConversionError& e) {
                EXPECT_EQ(e.what(), c.message);
            }
            EXPECT_GE(out.size(), c.handedOut);
        }
    }
}

// Serves data in pieces of 1000 bytes, counting them; the piece `slow` is
// handed out only after a pause, once the test has been told it is asked for.
class SlowSource final : public ByteSource {
  public:
    SlowSource(std::string data, int slow) : data_(std::move(data)), slow_(slow) {}
    std::string_view NextChunk() override {
        if (handedOut == slow_) {
            {
                const std::lock_guard lock(mutex_);
                asked_ = true;
            }
            askedFor_.notify_one();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        const std::string_view chunk = std::string_view(data_).substr(offset_, 1000);
        offset_ += chunk.size();
        ++handedOut;
        return chunk;
    }
    void WaitUntilTheSlowPieceIsAskedFor() {
        std::unique_lock lock(mutex_);
        askedFor_.wait(lock, [this] { return asked_; });
    }

    std::atomic<int> handedOut{0};

  private:
    std::string data_;
    std::size_t offset_ = 0;
    int slow_;
    std::mutex mutex_;
    std::condition_variable askedFor_;
    bool asked_ = false;
};

TEST(GzipSource, StopsWhenTheReaderGivesUpEarly) {
    const std::string gzip = Gzip(Text(std::size_t{8} << 20));
    for (const bool waiting : {false, true}) {
        for (const int chunks : {0, 1, 3}) {
            const Watchdog watchdog;
            ChunkedSource compressed(gzip, {4096});
            GzipSource source(compressed, kPath, {}, 65536);
            for (int i = 0; i < chunks; ++i) EXPECT_EQ(source.NextChunk().size(), 65536u);
            // Time for the helper to fill both buffers and wait for one.
            if (waiting) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    // Given up while the helper waits for a read, in the middle of a buffer
    // that takes hundreds of reads to fill: it reads nothing after that one.
    const Watchdog watchdog;
    SlowSource compressed(gzip, 5);
    {
        GzipSource source(compressed, kPath, {}, std::size_t{4} << 20);
        compressed.WaitUntilTheSlowPieceIsAskedFor();
    }
    EXPECT_EQ(compressed.handedOut.load(), 6);
}

// Serves its data in pieces of 1000 bytes and fails after a few, or when asked
// to check itself.
class FailingSource final : public ByteSource {
  public:
    FailingSource(std::string data, int failAfter) : data_(std::move(data)), left_(failAfter) {}
    std::string_view NextChunk() override {
        if (left_-- == 0) throw ConversionError("Cannot read the log \"x.log.gz\": it broke.");
        const std::string_view chunk = std::string_view(data_).substr(offset_, 1000);
        offset_ += chunk.size();
        return chunk;
    }
    void Finish() override { throw ConversionError("The log \"x.log.gz\" was cut short."); }

  private:
    std::string data_;
    std::size_t offset_ = 0;
    int left_;
};

TEST(GzipSource, PassesOnTheErrorsOfTheCompressedSource) {
    const std::string text = Text(1000000);
    const std::string gzip = Gzip(text);
    struct Case {
        int failAfter;
        const char* message;
    };
    const Case cases[] = {
        {3, "Cannot read the log \"x.log.gz\": it broke."},
        {1000000, "The log \"x.log.gz\" was cut short."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const Watchdog watchdog;
        FailingSource compressed(gzip, c.failAfter);
        GzipSource source(compressed, kPath, {}, 1000);
        std::string out;
        try {
            for (std::string_view chunk; !(chunk = source.NextChunk()).empty();) out += chunk;
            source.Finish();
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.what(), std::string(c.message));
        }
        EXPECT_EQ(out, text.substr(0, out.size()));
        EXPECT_GT(out.size(), 1000u);
    }
}

}  // namespace
}  // namespace tsry
