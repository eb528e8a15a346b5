#include "conversion/records/table_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "conversion/platform/platform.h"

namespace tsry {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Smaller blocks come from malloc, which keeps them in its own pools.
constexpr std::size_t kMappedBlock = kHugePage / 2;
// Text blocks: a huge page each, but the first ones smaller, so that a small
// log's table stays small.
constexpr std::size_t kFirstTextBlock = std::size_t{16} << 10;

std::size_t RoundUp(std::size_t bytes, std::size_t to) noexcept {
    return (bytes + to - 1) / to * to;
}

}  // namespace

void* AllocateTableBlock(std::size_t bytes) noexcept {
    if (bytes < kMappedBlock) return std::malloc(bytes == 0 ? 1 : bytes);
    return platform::AllocatePages(bytes);
}

void FreeTableBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < kMappedBlock) {
        std::free(block);
    } else {
        platform::FreePages(block, bytes);
    }
}

TextArena::~TextArena() { FreeAll(); }

TextArena::TextArena(TextArena&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      inUse_(std::exchange(other.inUse_, 0)),
      large_(std::move(other.large_)),
      next_(std::exchange(other.next_, nullptr)),
      left_(std::exchange(other.left_, 0)) {
    other.blocks_.clear();
    other.large_.clear();
}

TextArena& TextArena::operator=(TextArena&& other) noexcept {
    if (this != &other) {
        FreeAll();
        blocks_ = std::move(other.blocks_);
        inUse_ = std::exchange(other.inUse_, 0);
        large_ = std::move(other.large_);
        next_ = std::exchange(other.next_, nullptr);
        left_ = std::exchange(other.left_, 0);
        other.blocks_.clear();
        other.large_.clear();
    }
    return *this;
}

void TextArena::FreeAll() noexcept {
    for (const Block& block : blocks_) FreeTableBlock(block.data, block.size);
    blocks_.clear();
    Rewind();
}

void TextArena::Rewind() noexcept {
    for (const auto& [piece, size] : large_) FreeTableBlock(piece, size);
    large_.clear();
    inUse_ = 0;
    next_ = nullptr;
    left_ = 0;
}

char* TextArena::Allocate(std::size_t size) {
    if (size > kLargePiece) {
        auto* piece = static_cast<char*>(AllocateTableBlock(size));
        if (piece == nullptr) throw std::bad_alloc();
        try {
            large_.emplace(piece, size);
        } catch (...) {
            FreeTableBlock(piece, size);
            throw;
        }
        return piece;
    }
    const std::size_t rounded = RoundUp(size, 8);
    if (rounded > left_) {
        if (inUse_ == blocks_.size() || blocks_[inUse_].size < rounded) {
            // Each block twice the last, up to a huge page.
            const std::size_t blockSize =
                std::max(rounded, inUse_ == 0 ? kFirstTextBlock
                                              : std::min(blocks_[inUse_ - 1].size * 2, kHugePage));
            blocks_.reserve(blocks_.size() + 1);
            auto* data = static_cast<char*>(AllocateTableBlock(blockSize));
            if (data == nullptr) throw std::bad_alloc();
            blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(inUse_),
                           {data, blockSize});
        }
        next_ = blocks_[inUse_].data;
        left_ = blocks_[inUse_].size;
        ++inUse_;
    }
    char* piece = next_;
    next_ += rounded;
    left_ -= rounded;
    return piece;
}

void TextArena::Release(char* piece, std::size_t size) noexcept {
    if (size <= kLargePiece || piece == nullptr) return;
    if (large_.erase(piece) != 0) FreeTableBlock(piece, size);
}

}  // namespace tsry
