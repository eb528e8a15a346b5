#pragma once

#include <cstddef>
#include <cstdint>

// A read-only view of part of a file, mapped into memory.
//
// Reading a mapped page whose part of the file has gone (the file was cut
// short by another program while it was mapped, as log rotation by truncation
// does) would kill the process with SIGBUS. A window instead lets such a read
// see zeros, and says so in lost(), so that the reader can report an error.

namespace tsry {

class MappedWindow {
  public:
    MappedWindow() = default;
    ~MappedWindow();
    MappedWindow(const MappedWindow&) = delete;
    MappedWindow& operator=(const MappedWindow&) = delete;

    // The size of the pages that window offsets are aligned to.
    [[nodiscard]] static std::size_t PageSize() noexcept;

    // Maps `size` bytes of `file` (the system's handle) from `offset` (a
    // multiple of PageSize()), in place of what the window showed before.
    // Returns false, with error() set, when the system cannot map the file,
    // or when too many windows are open at once to watch this one.
    bool Map(std::intptr_t file, std::uint64_t offset, std::size_t size) noexcept;

    [[nodiscard]] const char* data() const noexcept { return data_; }
    [[nodiscard]] std::uint64_t offset() const noexcept { return offset_; }
    [[nodiscard]] std::size_t size() const noexcept { return size_; }

    // The system's error code of the last Map() that failed.
    [[nodiscard]] int error() const noexcept { return error_; }

    // Whether a page of the window vanished with the end of the file since
    // the window was first mapped.
    [[nodiscard]] bool lost() const noexcept;

  private:
    void Unmap() noexcept;

    char* data_ = nullptr;
    std::uint64_t offset_ = 0;
    std::size_t size_ = 0;
    int watch_ = -1;  // the window's entry among the watched ranges
    int error_ = 0;
};

}  // namespace tsry
