# Cross-building the Linux programs for 64-bit ARM with Debian's cross
# compiler (g++-aarch64-linux-gnu), against the arm64 zlib that multiarch puts
# beside the build machine's own (zlib1g-dev:arm64). The tests run under
# qemu-user through CTest.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross compiler's own libraries, then multiarch's arm64 folders
# (/usr/lib/aarch64-linux-gnu), never the build machine's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user runs what the build runs (tests, test discovery). The programs
# load their libraries as on an arm64 Debian, from multiarch's arm64 packages
# (libc6, libstdc++6, zlib1g). Not with `-L /usr/aarch64-linux-gnu`: the cross
# compiler's loader would load multiarch's C library, of another build, and
# threaded programs hang.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
