#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// Memory for a large table of records. Tens of thousands of names make
// megabytes of slots and text, touched in no particular order: in blocks of
// huge pages (where the system grants them) that costs a few page faults
// instead of one per 4 KiB, and the text of all records is freed at once.

namespace tsry {

// A block of `bytes` for a table, on huge pages when it is large enough to
// fill some; null when there is no memory. FreeTableBlock gives it back.
[[nodiscard]] void* AllocateTableBlock(std::size_t bytes) noexcept;
void FreeTableBlock(void* block, std::size_t bytes) noexcept;

// For std::vector: the same, through AllocateTableBlock.
template <class T>
struct TableAllocator {
    using value_type = T;
    TableAllocator() noexcept = default;
    template <class U>
    TableAllocator(const TableAllocator<U>& /*other*/) noexcept {}  // NOLINT: as allocators are

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* block = AllocateTableBlock(n * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t n) noexcept { FreeTableBlock(block, n * sizeof(T)); }

    template <class U>
    bool operator==(const TableAllocator<U>& /*other*/) const noexcept {
        return true;
    }
};

template <class T>
using TableVector = std::vector<T, TableAllocator<T>>;

// An array that grows by whole blocks and never moves what it holds: the
// first block small, for small tables, then blocks of a huge page each.
// For trivially destructible elements.
template <class T>
class BlockArray {
    static_assert(std::is_trivially_destructible_v<T>);

  public:
    static constexpr std::size_t kFirstBlock = 256;
    static constexpr std::size_t kBlock =
        std::max<std::size_t>((std::size_t{2} << 20) / sizeof(T), 1);

    BlockArray() = default;
    ~BlockArray() {
        for (std::size_t b = 0; b < blocks_.size(); ++b) FreeTableBlock(blocks_[b], BlockBytes(b));
    }
    BlockArray(BlockArray&& other) noexcept
        : blocks_(std::move(other.blocks_)), size_(std::exchange(other.size_, 0)) {
        other.blocks_.clear();
    }
    BlockArray& operator=(BlockArray&& other) noexcept {
        BlockArray gone(std::move(*this));
        blocks_.swap(other.blocks_);
        std::swap(size_, other.size_);
        return *this;
    }
    BlockArray(const BlockArray&) = delete;
    BlockArray& operator=(const BlockArray&) = delete;

    [[nodiscard]] std::size_t size() const noexcept { return size_; }
    // Empties the array, keeping its blocks.
    void clear() noexcept { size_ = 0; }

    T& operator[](std::size_t i) noexcept { return *At(i); }
    const T& operator[](std::size_t i) const noexcept { return *At(i); }

    T& emplace_back() {
        const std::size_t capacity =
            blocks_.empty() ? 0 : kFirstBlock + (blocks_.size() - 1) * kBlock;
        if (size_ == capacity) {
            blocks_.reserve(blocks_.size() + 1);
            void* block = AllocateTableBlock(BlockBytes(blocks_.size()));
            if (block == nullptr) throw std::bad_alloc();
            blocks_.push_back(static_cast<T*>(block));
        }
        T* slot = At(size_);
        ++size_;
        return *new (slot) T();
    }

  private:
    static std::size_t BlockBytes(std::size_t b) noexcept {
        return (b == 0 ? kFirstBlock : kBlock) * sizeof(T);
    }
    T* At(std::size_t i) const noexcept {
        if (i < kFirstBlock) return blocks_[0] + i;
        i -= kFirstBlock;
        return blocks_[1 + i / kBlock] + i % kBlock;
    }

    std::vector<T*> blocks_;
    std::size_t size_ = 0;
};

// The text of the records: pieces cut from large blocks, all freed with the
// arena. A piece of more than kLargePiece bytes has a block of its own, which
// Release() gives back at once, so that a huge value replaced by another does
// not keep its memory.
class TextArena {
  public:
    static constexpr std::size_t kLargePiece = std::size_t{64} << 10;

    TextArena() = default;
    ~TextArena();
    TextArena(TextArena&& other) noexcept;
    TextArena& operator=(TextArena&& other) noexcept;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // A piece of `size` bytes (more than 0), aligned to 8.
    [[nodiscard]] char* Allocate(std::size_t size);
    // Gives back a piece of `size` bytes from Allocate(): a large one at once,
    // the others with the arena.
    void Release(char* piece, std::size_t size) noexcept;
    // Gives back every piece, keeping the blocks for the pieces to come.
    void Rewind() noexcept;

  private:
    struct Block {
        char* data;
        std::size_t size;
    };
    void FreeAll() noexcept;

    std::vector<Block> blocks_;  // the first inUse_ hold pieces; the others wait
    std::size_t inUse_ = 0;
    std::unordered_map<char*, std::size_t> large_;  // pieces with a block of their own
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

}  // namespace tsry
