#include "conversion/reading/gzip_source.h"

#define ZLIB_CONST
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "conversion/platform/conversion_error.h"

namespace tsry {

namespace {

constexpr unsigned char kMagic[2] = {0x1f, 0x8b};
// The most that is handed to inflate at once (its counts are unsigned int).
constexpr std::size_t kMaxFeed = std::size_t{1} << 30;

// Thrown on the helper thread when the source is being destroyed.
struct Stopped {};

}  // namespace

bool& detail::InflateOnCallersThread() {
    static bool own = false;
    return own;
}

bool StartsLikeGzip(std::string_view firstBytes) noexcept {
    return firstBytes.size() >= 2 && static_cast<unsigned char>(firstBytes[0]) == kMagic[0] &&
           static_cast<unsigned char>(firstBytes[1]) == kMagic[1];
}

// One gzip file, its members one after the other, inflated into the buffers
// it is given. Every call but the last fills its buffer whole.
class GzipSource::Inflater {
  public:
    Inflater(ByteSource& compressed, std::filesystem::path path, std::string_view alreadyRead,
             std::atomic<std::uint64_t>& read, const std::atomic<bool>& stop)
        : compressed_(compressed),
          path_(std::move(path)),
          rest_(alreadyRead),
          read_(read),
          stop_(stop) {
        read_.fetch_add(alreadyRead.size(), std::memory_order_relaxed);
        const int rc = inflateInit2(&z_, 15 + 16);  // the largest window, gzip only
        if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        if (rc != Z_OK) throw std::runtime_error(std::string("zlib cannot start: ") + Reason());
    }
    ~Inflater() { inflateEnd(&z_); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates into [out, out + size); returns how many bytes it wrote, fewer
    // than `size` only at the end of the data. When it throws, written()
    // bytes were written before the error.
    std::size_t Fill(char* out, std::size_t size) {
        out_ = out;
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = static_cast<uInt>(size);
        while (z_.avail_out > 0 && !ended_) {
            if (betweenMembers_) {
                NextMember();
                continue;
            }
            const int rc = inflate(&z_, Z_NO_FLUSH);
            switch (rc) {
                case Z_STREAM_END:
                    betweenMembers_ = true;
                    break;
                case Z_OK:
                case Z_BUF_ERROR:  // no progress: it needs more input
                    if (z_.avail_out == 0) break;
                    if (z_.avail_in > 0) {
                        if (rc == Z_BUF_ERROR) ThrowUnexpected("inflate", rc);
                    } else if (!Feed()) {
                        ThrowCutShort();
                    }
                    break;
                case Z_MEM_ERROR:
                    throw std::bad_alloc();
                case Z_DATA_ERROR:
                case Z_NEED_DICT:  // gzip has no preset dictionaries
                    ThrowDamaged();
                default:
                    ThrowUnexpected("inflate", rc);
            }
        }
        return written();
    }

    [[nodiscard]] std::size_t written() const noexcept {
        return static_cast<std::size_t>(reinterpret_cast<char*>(z_.next_out) - out_);
    }
    // Whether the data ended cleanly: after a whole member, or zero bytes.
    [[nodiscard]] bool ended() const noexcept { return ended_; }

    [[noreturn]] void ThrowCutShort() const {
        throw ConversionError("The log " + QuotedPath(path_) +
                              " ends in the middle of its compressed data: it was cut short.");
    }

  private:
    // Gives inflate the next of the input; false at its end.
    bool Feed() {
        if (rest_.empty()) {
            if (sourceEnded_) return false;
            if (stop_.load(std::memory_order_relaxed)) throw Stopped{};
            rest_ = compressed_.NextChunk();
            if (rest_.empty()) {
                sourceEnded_ = true;
                return false;
            }
            read_.fetch_add(rest_.size(), std::memory_order_relaxed);
        }
        const std::size_t n = std::min(rest_.size(), kMaxFeed);
        z_.next_in = reinterpret_cast<const Bytef*>(rest_.data());
        z_.avail_in = static_cast<uInt>(n);
        rest_.remove_prefix(n);
        return true;
    }

    // After a member: starts the next one, skips zero bytes, or sets ended_ at
    // the end of the input. Whatever else follows is an error.
    void NextMember() {
        if (z_.avail_in == 0 && !Feed()) {
            if (halfMagic_) ThrowCutShort();
            ended_ = true;
            return;
        }
        const Bytef* in = z_.next_in;
        if (halfMagic_) {
            // The first byte of the magic number ended the previous input.
            if (in[0] != kMagic[1]) ThrowTrailing();
            const uInt avail = z_.avail_in;
            Reset();
            z_.next_in = kMagic;
            z_.avail_in = 1;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc != Z_OK || z_.avail_in != 0) ThrowUnexpected("inflate", rc);
            z_.next_in = in;
            z_.avail_in = avail;
            halfMagic_ = false;
            return;
        }
        if (zeros_ || in[0] == 0) {
            zeros_ = true;
            const Bytef* end = in + z_.avail_in;
            if (std::find_if(in, end, [](Bytef b) { return b != 0; }) != end) ThrowTrailing();
            z_.avail_in = 0;
            return;
        }
        if (in[0] != kMagic[0]) ThrowTrailing();
        if (z_.avail_in == 1) {
            halfMagic_ = true;
            z_.avail_in = 0;
            return;
        }
        if (in[1] != kMagic[1]) ThrowTrailing();
        Reset();
    }

    void Reset() {
        const int rc = inflateReset(&z_);
        if (rc != Z_OK) ThrowUnexpected("inflateReset", rc);
        betweenMembers_ = false;
    }

    [[nodiscard]] const char* Reason() const noexcept {
        return z_.msg != nullptr ? z_.msg : "no reason given";
    }

    [[noreturn]] void ThrowDamaged() const {
        throw ConversionError("The log " + QuotedPath(path_) +
                              " is damaged: its compressed data cannot be read (" + Reason() +
                              ").");
    }

    [[noreturn]] void ThrowTrailing() const {
        throw ConversionError("The log " + QuotedPath(path_) +
                              " goes on after its compressed data with bytes that are not "
                              "compressed data: it is damaged, or something was added to it.");
    }

    [[noreturn]] void ThrowUnexpected(const char* what, int rc) const {
        throw std::logic_error(std::string("zlib's ") + what + " returned " + std::to_string(rc) +
                               " (" + Reason() + ")");
    }

    ByteSource& compressed_;
    std::filesystem::path path_;
    std::string_view rest_;  // of the last chunk read, what inflate has not been given
    std::atomic<std::uint64_t>& read_;
    const std::atomic<bool>& stop_;
    z_stream z_{};
    char* out_ = nullptr;
    bool betweenMembers_ = false;
    bool halfMagic_ = false;  // a member's first byte was the last of the input so far
    bool zeros_ = false;      // zero bytes after the last member
    bool sourceEnded_ = false;
    bool ended_ = false;
};

GzipSource::GzipSource(ByteSource& compressed, std::filesystem::path path,
                       std::string_view alreadyRead, std::size_t bufferSize)
    : compressed_(compressed),
      bufferSize_(std::clamp<std::size_t>(bufferSize, 1, kMaxBufferSize)),
      inflater_(std::make_unique<Inflater>(compressed, std::move(path), alreadyRead,
                                           compressedRead_, stop_)) {
    buffers_[0].reset(new char[bufferSize_]);
    buffers_[1].reset(new char[bufferSize_]);
    if (detail::InflateOnCallersThread()) return;
    try {
        helper_ = std::thread(&GzipSource::HelperLoop, this);
    } catch (const std::system_error&) {
        // No thread to be had: NextChunk() inflates.
    }
}

GzipSource::~GzipSource() {
    {
        const std::lock_guard lock(mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    emptied_.notify_all();
    if (helper_.joinable()) helper_.join();
}

bool GzipSource::FillNext() {
    const std::size_t index = static_cast<std::size_t>(produced_ % 2);
    std::size_t n = 0;
    std::exception_ptr error;  // after the n bytes
    try {
        n = inflater_->Fill(buffers_[index].get(), bufferSize_);
    } catch (const Stopped&) {
        return false;
    } catch (...) {
        n = inflater_->written();
        error = std::current_exception();
    }
    {
        const std::lock_guard lock(mutex_);
        if (n > 0) {
            sizes_[index] = n;
            ++produced_;
        }
        if (error || n < bufferSize_) {
            done_ = true;
            error_ = error;
        }
    }
    filled_.notify_one();
    return !error && n == bufferSize_;
}

void GzipSource::HelperLoop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            emptied_.wait(lock, [this] {
                return stop_.load(std::memory_order_relaxed) || produced_ - consumed_ < 2;
            });
            if (stop_.load(std::memory_order_relaxed)) return;
        }
        if (!FillNext()) return;
    }
}

std::string_view GzipSource::NextChunk() {
    std::unique_lock lock(mutex_);
    if (holding_) {
        ++consumed_;
        holding_ = false;
        emptied_.notify_one();
    }
    if (helper_.joinable()) {
        filled_.wait(lock, [this] { return produced_ > consumed_ || done_; });
    } else if (produced_ == consumed_ && !done_) {
        lock.unlock();
        FillNext();
        lock.lock();
    }
    if (produced_ > consumed_) {
        holding_ = true;
        const std::size_t index = static_cast<std::size_t>(consumed_ % 2);
        return {buffers_[index].get(), sizes_[index]};
    }
    if (error_) std::rethrow_exception(error_);
    return {};
}

void GzipSource::Finish() {
    while (!NextChunk().empty()) {
    }
    if (helper_.joinable()) helper_.join();
    if (!inflater_->ended()) inflater_->ThrowCutShort();
    compressed_.Finish();
}

}  // namespace tsry
