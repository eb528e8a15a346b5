// Mapped windows on Windows. A file cannot be cut short while a view of it is
// mapped (the writer's attempt fails instead), so no part of a window is ever
// lost here.
#include <windows.h>

#include "conversion/platform/mapped_window.h"

namespace tsry {

std::size_t MappedWindow::PageSize() noexcept {
    // Views start at multiples of the allocation granularity, not of a page.
    static const std::size_t size = [] {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return static_cast<std::size_t>(info.dwAllocationGranularity);
    }();
    return size;
}

MappedWindow::~MappedWindow() { Unmap(); }

bool MappedWindow::Map(std::intptr_t file, std::uint64_t offset, std::size_t size) noexcept {
    // A mapping of the file as large as it is now: it may have grown since
    // the last window.
    HANDLE mapping =
        ::CreateFileMappingW(reinterpret_cast<HANDLE>(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        error_ = static_cast<int>(::GetLastError());
        return false;
    }
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                 static_cast<DWORD>(offset), size);
    error_ = view == nullptr ? static_cast<int>(::GetLastError()) : 0;
    ::CloseHandle(mapping);  // the view keeps it alive
    if (view == nullptr) return false;
    Unmap();
    data_ = static_cast<char*>(view);
    offset_ = offset;
    size_ = size;
    return true;
}

void MappedWindow::Unmap() noexcept {
    if (data_ == nullptr) return;
    ::UnmapViewOfFile(data_);
    data_ = nullptr;
    size_ = 0;
}

bool MappedWindow::lost() const noexcept { return false; }

}  // namespace tsry
