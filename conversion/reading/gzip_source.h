#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "conversion/reading/byte_source.h"

// Reading a gzip-compressed log as the text it holds.

namespace tsry {

// Whether a log starts as gzip's files do (0x1f 0x8b): it is then read
// decompressed, whatever its name.
[[nodiscard]] bool StartsLikeGzip(std::string_view firstBytes) noexcept;

// The decompressed bytes of gzip data read from another source, every member
// in turn, as `gzip -dc` reads them. Zero bytes after the last member are
// ignored, as gzip does; anything else after a member that does not start
// another one is an error, as are data cut short and damaged data, each a
// ConversionError naming `path`.
//
// A helper thread reads `compressed` and inflates into one of two buffers
// while the caller reads the other, so `compressed.NextChunk()` runs on that
// thread (it must not be used by anyone else meanwhile); `compressed.Finish()`
// runs on the caller's thread, in Finish(). Should no thread be had, the
// caller's thread inflates, between its calls of NextChunk(). An error met
// while inflating comes out of NextChunk() once the bytes before it are
// handed out.
class GzipSource final : public ByteSource {
  public:
    static constexpr std::size_t kDefaultBufferSize = std::size_t{512} * 1024;
    static constexpr std::size_t kMaxBufferSize = std::size_t{64} << 20;

    // `alreadyRead`: bytes the caller has already taken from `compressed`
    // (to look at how the log starts), inflated first; they must stay valid
    // until the next call of `compressed.NextChunk()`. `bufferSize` (at most
    // kMaxBufferSize) is the size of each of the two buffers handed out.
    GzipSource(ByteSource& compressed, std::filesystem::path path,
               std::string_view alreadyRead = {}, std::size_t bufferSize = kDefaultBufferSize);
    // Stops the helper thread, even in the middle of the data: at once if it
    // waits for a buffer, else once it has inflated what it was last given
    // (a read of `compressed` it is waiting on has to return first).
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::string_view NextChunk() override;
    // Reads whatever the caller has not (so that all of the data is checked)
    // and then lets `compressed` check itself.
    void Finish() override;

    // How many compressed bytes have been read so far, for a progress bar
    // that follows the compressed file's size. Any thread.
    [[nodiscard]] std::uint64_t compressedBytesRead() const noexcept {
        return compressedRead_.load(std::memory_order_relaxed);
    }

  private:
    class Inflater;

    // Inflates into the next free buffer and hands it over; false once the
    // data has ended (or failed, or the helper is told to stop).
    bool FillNext();
    void HelperLoop();

    ByteSource& compressed_;
    std::size_t bufferSize_;
    std::unique_ptr<char[]> buffers_[2];
    std::atomic<std::uint64_t> compressedRead_{0};
    std::atomic<bool> stop_{false};
    std::unique_ptr<Inflater> inflater_;

    std::mutex mutex_;
    std::condition_variable filled_;   // a buffer was filled, or the data ended
    std::condition_variable emptied_;  // a buffer was given back, or stop_ set
    // Buffers filled so far and buffers given back by the caller: buffer
    // `n % 2` is the n-th; those in between are full or held by the caller.
    std::uint64_t produced_ = 0;
    std::uint64_t consumed_ = 0;
    std::size_t sizes_[2] = {0, 0};
    bool holding_ = false;      // the caller holds buffer consumed_ % 2
    bool done_ = false;         // no buffer will be filled any more
    std::exception_ptr error_;  // why, if it was not the end of the data
    std::thread helper_;
};

namespace detail {
// Inflates on the caller's thread, as when no thread can be had. For tests.
bool& InflateOnCallersThread();
}  // namespace detail

}  // namespace tsry
