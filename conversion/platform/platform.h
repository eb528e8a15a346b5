#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What the engine needs of the system, in one small interface. Each platform
// implements it in a file of its own (platform_posix.cpp, platform_windows.cpp);
// the rest of the engine does not touch the system but through this, the
// mapped window and the replacement file.

namespace tsry {

// A path as UTF-8 text, for messages and windows; and a path from UTF-8 text
// (a command line, a window's field), whatever the system's own encoding of
// paths. On POSIX both pass the system's bytes as they are, valid UTF-8 or
// not, so that every name the system holds goes there and back.
[[nodiscard]] inline std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}
[[nodiscard]] inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::u8string(text.begin(), text.end());
}

}  // namespace tsry

namespace tsry::platform {

// The system's text for error code `error` (an errno value, or a Windows
// error code), in the user's language where the system has it.
[[nodiscard]] std::string ErrorText(int error);

// Whether a file with a view mapped over it can no longer be cut short or
// rotated by the program writing it (as on Windows): reading mapped would
// then get in the game server's way, so logs are read in copies unless told.
extern const bool kMappingHoldsTheFile;

// The input path that stands for standard input.
inline constexpr std::string_view kStandardInput = "-";

// What tells one file from every other on the machine, whatever path names
// it: device and inode on POSIX, volume serial number and file index on
// Windows.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file that an output path would write: the file at the
// end of its links, or what standard output or the descriptor that the path
// names (see OutputDescriptor) is open on. Empty when there is no such file
// yet, or it cannot be looked at (the write will then say why).
[[nodiscard]] std::optional<FileIdentity> OutputIdentity(const std::filesystem::path& path);

// The identity of the log at `path` when it is a plain file ("-": what
// standard input is open on), looked at without opening it, since a FIFO
// opened would wait for its writer. Empty for anything else. Throws
// ConversionError ("Cannot open the log ...") where there is nothing to open,
// or a folder.
[[nodiscard]] std::optional<FileIdentity> PlainFileIdentity(const std::filesystem::path& path);

// The descriptor that an output path names and that the program already
// has open, to be written as it is: "/dev/stdout", "/dev/stderr",
// "/dev/fd/N" and "/proc/self/fd/N" on POSIX. Empty for any other path.
[[nodiscard]] std::optional<std::intptr_t> OutputDescriptor(const std::filesystem::path& path);

// Temporary files that must not outlive a program stopped from outside: on
// POSIX by SIGINT, SIGTERM or SIGHUP, on Windows by Ctrl+C, Ctrl+Break or the
// console closed. InstallStopHandlers() sets that up, once, at the program's
// start; a stopped program then removes every file registered at that moment
// and ends as the stop would have ended it. `file` must stay alive, unchanged,
// while it is registered.
void InstallStopHandlers() noexcept;
void RemoveWhenStopped(const std::filesystem::path& file) noexcept;
void KeepWhenStopped(const std::filesystem::path& file) noexcept;
// Removes the files registered now, as a stop does; for a window program told
// that the session is ending, and for tests. Safe in a signal handler.
void RemoveFilesOfAStop() noexcept;
// Removes one of them: the only call a stop makes of the system.
void RemoveFileOfAStop(const std::filesystem::path::value_type* file) noexcept;

// What a look at a path finds without opening it for long: the identity and
// size of the plain file it names now, following links. Empty when the name
// names nothing (a log renamed away or deleted), or no plain file.
struct FileLook {
    FileIdentity identity;
    std::uint64_t size = 0;
};
[[nodiscard]] std::optional<FileLook> LookAtFile(const std::filesystem::path& path) noexcept;

// Stops for a program that finishes its work before it ends (a follower):
// after CatchStops(), SIGINT, SIGTERM and SIGHUP (on Windows, Ctrl+C,
// Ctrl+Break and the console closed) no longer end the program but make
// StopRequested() true and end a PauseUnlessStopped() at once. The files
// registered with RemoveWhenStopped() are then left to their owners. A stop
// requested before CatchStops() is forgotten. RequestStop() stops as a
// signal would: for a window's button, and for tests.
void CatchStops() noexcept;
void RequestStop() noexcept;
[[nodiscard]] bool StopRequested() noexcept;
// Waits `seconds`, or until a stop.
void PauseUnlessStopped(double seconds) noexcept;

// A log opened for reading, shared with the program that keeps writing it.
class InputFile {
  public:
    // Opens `path`, or standard input for "-". Throws ConversionError
    // ("Cannot open the log ...") for a missing file, a directory or an empty
    // path.
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // A plain file: read at any offset, mapped, its size known. Anything else
    // (a pipe, a terminal, a device) is a stream, read once from its start.
    [[nodiscard]] bool plain() const noexcept { return plain_; }
    // Where the log starts in a plain file: 0, or for standard input the
    // position it stood at when the program got it (as a shell hands on a
    // file that another program has read part of).
    [[nodiscard]] std::uint64_t start() const noexcept { return start_; }
    // The open file's identity.
    [[nodiscard]] FileIdentity identity() const;
    // The size of a plain file now. Throws ConversionError.
    [[nodiscard]] std::uint64_t Size() const;
    // Up to `size` bytes at `offset` of a plain file, or the next bytes of a
    // stream (`offset` unused); 0 at the end. Safe from several threads on a
    // plain file. Throws ConversionError.
    std::size_t Read(char* buffer, std::size_t size, std::uint64_t offset) const;

    // The system's handle of the file, for mapping it.
    [[nodiscard]] std::intptr_t handle() const noexcept { return handle_; }

  private:
    std::filesystem::path path_;
    std::intptr_t handle_ = -1;
    std::uint64_t start_ = 0;
    bool plain_ = false;
    bool owned_ = true;
};

// Memory in blocks of whole pages straight from the system, on huge pages
// where it grants them; null when there is none. The size given back must be
// the size asked for.
[[nodiscard]] void* AllocatePages(std::size_t bytes) noexcept;
void FreePages(void* block, std::size_t bytes) noexcept;
// Asks for huge pages for the whole ones inside [block, block + bytes) of
// ordinary memory, where the system has them.
void AdviseHugePages(void* block, std::size_t bytes) noexcept;

}  // namespace tsry::platform
