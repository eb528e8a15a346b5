#include "conversion/reading/line_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "conversion/platform/platform.h"
#include "conversion/records/record_format.h"

namespace tsry {

GatherBuffer::~GatherBuffer() { std::free(data_); }

void GatherBuffer::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    capacity = std::max({capacity, capacity_ * 2, std::size_t{4096}});
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    // Fewer page faults for a huge line, where the system allows it.
    if (capacity_ >= (std::size_t{8} << 20)) platform::AdviseHugePages(data_, capacity_);
}

void GatherBuffer::append(const char* begin, const char* end) {
    const auto n = static_cast<std::size_t>(end - begin);
    if (n == 0) return;
    reserve(size_ + n);
    std::memcpy(data_ + size_, begin, n);
    size_ += n;
}

void GatherBuffer::erase_front(std::size_t n) noexcept {
    n = std::min(n, size_);
    std::memmove(data_, data_ + n, size_ - n);
    size_ -= n;
}

void GatherBuffer::clear() noexcept {
    size_ = 0;
    if (capacity_ > (std::size_t{16} << 20)) {
        std::free(data_);
        data_ = nullptr;
        capacity_ = 0;
    }
}

bool LineReader::NextBlockInPlace(std::string_view& block) {
    for (;;) {
        if (!rest_.empty()) {
            if (atEnd_) {
                // The last line, without its terminator or ending with a CR.
                block = rest_;
                rest_ = {};
                return true;
            }
            // As far as the last usable line end: any LF, or a CR known not
            // to be the first half of a CR LF pair, so not one in the last
            // byte. Bytes already looked at hold none.
            const char* const begin = rest_.data();
            const char* const usable = begin + rest_.size() - (rest_.back() == '\r' ? 1 : 0);
            const char* const cut = PastLastLineEnd(begin + scanned_, usable);
            if (cut != begin + scanned_) {
                block = std::string_view(begin, static_cast<std::size_t>(cut - begin));
                rest_.remove_prefix(block.size());
                scanned_ = 0;
                return true;
            }
            scanned_ = static_cast<std::size_t>(usable - begin);
        } else if (atEnd_) {
            return Finished();
        }
        // The unfinished line stays in front of the next piece.
        const std::size_t keep = rest_.size();
        rest_ = source_.NextChunkKeeping(keep);
        if (rest_.size() <= keep) atEnd_ = true;
    }
}

bool LineReader::Finished() {
    if (!finished_) {
        finished_ = true;
        source_.Finish();
    }
    return false;
}

std::size_t& detail::CondenseFrom() {
    static std::size_t bytes = std::size_t{64} << 10;
    return bytes;
}

void LineReader::ClearCarry() noexcept {
    carry_.clear();
    tagSeen_ = false;
    fieldEnds_ = 0;
    looked_ = 0;
    skipping_ = false;
}

void LineReader::Gather(const char* begin, const char* end) {
    if (!skipping_) {
        carry_.append(begin, end);
        if (recordsOnly_) Condense();
        return;
    }
    // Only the line's end is kept now.
    const char* lineEnd = LineEnd(begin, end);
    carry_.append(lineEnd, end);
}

void LineReader::Condense() {
    if (carry_.size() < detail::CondenseFrom()) return;
    // A CR at the end is the line's end (waiting to see whether an LF
    // follows), and stays.
    const bool crAtEnd = carry_.back() == '\r';
    if (!tagSeen_) {
        const std::string_view text = carry_.view();
        const std::size_t tag = text.find(kRecordTag, looked_);
        if (tag == std::string_view::npos) {
            // Only the bytes that may start a tag that goes on in the next piece.
            carry_.erase_front(text.size() - std::min(text.size(), kRecordTag.size() - 1));
            looked_ = 0;
            return;
        }
        carry_.erase_front(tag);
        tagSeen_ = true;
        looked_ = kRecordTag.size();
    }
    for (; fieldEnds_ < kRecordFields; ++fieldEnds_) {
        const std::size_t fieldEnd = carry_.view().find(kFieldEnd, looked_);
        if (fieldEnd == std::string_view::npos) {
            looked_ = carry_.size();
            return;
        }
        looked_ = fieldEnd + 1;
    }
    carry_.truncate(looked_);
    static constexpr char kCr = '\r';
    if (crAtEnd) carry_.append(&kCr, &kCr + 1);
    skipping_ = true;
}

bool LineReader::NextBlock(std::string_view& block) {
    if (inPlace_) return NextBlockInPlace(block);
    if (carried_) {
        ClearCarry();
        carried_ = false;
    }
    for (;;) {
        if (rest_.empty()) {
            if (!atEnd_) rest_ = source_.NextChunk();
            if (rest_.empty()) {
                atEnd_ = true;
                if (carry_.empty()) return Finished();
                // The last line, without its terminator or ending with a CR.
                block = carry_.view();
                carried_ = true;
                return true;
            }
        }
        const char* const begin = rest_.data();
        const char* const end = begin + rest_.size();
        if (!carry_.empty()) {
            // Finish the line that began in an earlier chunk.
            if (carry_.back() == '\r') {
                if (*begin == '\n') {
                    carry_.append(begin, begin + 1);
                    rest_.remove_prefix(1);
                }
            } else {
                const char* lineEnd = LineEnd(begin, end);
                if (lineEnd == end || (*lineEnd == '\r' && lineEnd + 1 == end)) {
                    // Still no line end known to be whole: gather and read on.
                    Gather(begin, end);
                    rest_ = {};
                    continue;
                }
                const char* next = SkipLineEnd(lineEnd, end);
                Gather(begin, next);
                rest_.remove_prefix(static_cast<std::size_t>(next - begin));
            }
            block = carry_.view();
            carried_ = true;
            return true;
        }
        // The chunk up to its last usable line end: any LF, or a CR known not
        // to be the first half of a CR LF pair, so not one in its last byte.
        const char* cut = PastLastLineEnd(begin, end[-1] == '\r' ? end - 1 : end);
        if (cut == begin) {
            Gather(begin, end);
            rest_ = {};
            continue;
        }
        block = std::string_view(begin, static_cast<std::size_t>(cut - begin));
        rest_.remove_prefix(block.size());
        return true;
    }
}

std::uint64_t LineReader::CountRemainingLines() {
    std::uint64_t lines = 0;
    std::string_view block;
    while (NextBlock(block)) lines += CountLines(block.data(), block.data() + block.size());
    return lines;
}

}  // namespace tsry
