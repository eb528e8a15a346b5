# Every command installs what is missing first, then builds what it needs.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

WINDOWS_BUILD ?= build-windows
ARM64_BUILD ?= build-arm64

.PHONY: all deps configure build test run convert-sample screenshot bench sanitize fuzz format tidy clean \
	windows test-windows package check-package screenshot-windows arm64 test-arm64

all: build

deps:
	@./scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

run: build
	./$(BUILD)/bin/tsry-log-parser

# Converts the sample log with the command-line converter into build/tsry.nss.
convert-sample: build
	cd $(BUILD) && ./bin/tsry-convert ../examples/sample.log

# Pictures of the window in a real X server: build/screenshot.png as it opens,
# build/after-parse.png after a Browse and a Parse.
screenshot: build
	./scripts/screenshot $(BUILD)/bin/tsry-log-parser $(BUILD)/screenshot.png
	TSRY_SCREENSHOT_DIR=$(abspath $(BUILD)) xvfb-run -a -s "-screen 0 1024x768x24" \
	    env QT_QPA_PLATFORM=xcb ./$(BUILD)/bin/window_tests browseThenParse >/dev/null

bench: build
	./bench/run

# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSRY_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS seconds.
FUZZ_SECONDS ?= 20
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTSRY_BUILD_FUZZ=ON -DTSRY_BUILD_WINDOW=OFF -DTSRY_BUILD_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS)
	./fuzz/run build-fuzz/bin $(FUZZ_SECONDS)

# The Windows programs, cross-built with mingw-w64 into build-windows/, and
# their tests under Wine.
$(WINDOWS_BUILD)/build.ninja: | deps
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

windows: deps $(WINDOWS_BUILD)/build.ninja
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)

test-windows: windows
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS)

# A picture of the Windows window under Wine in a virtual X server.
# build-windows/screenshot.png as it opens, build-windows/after-parse.png after
# a Browse and a Parse.
screenshot-windows: windows
	./scripts/screenshot-windows $(WINDOWS_BUILD)/bin/tsry-log-parser.exe $(WINDOWS_BUILD)/screenshot.png
	./scripts/screenshot-windows $(WINDOWS_BUILD)/bin/win32_window_tests.exe \
	    $(WINDOWS_BUILD)/after-parse.png --gtest_filter='*BrowseThenParse*'

# The converter for Linux on 64-bit ARM, cross-built into build-arm64/ (its
# static program too), and the engine's and the converter's tests under
# qemu-user.
$(ARM64_BUILD)/build.ninja: | deps
	cmake -S . -B $(ARM64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake $(CMAKE_FLAGS)

arm64: deps $(ARM64_BUILD)/build.ninja
	cmake --build $(ARM64_BUILD) -j $(JOBS)

test-arm64: arm64
	ctest --test-dir $(ARM64_BUILD) --output-on-failure -j $(JOBS)

# Release packages in dist/: the Windows zip; the Debian packages tsry-convert
# (amd64 and arm64) and tsry-log-parser (amd64); the static converter for
# x86-64 and for aarch64 Linux; each unpacked and tried, and their SHA256SUMS.
package: build windows arm64
	./scripts/package $(BUILD) $(ARM64_BUILD) $(WINDOWS_BUILD) dist

# The packages checked as a distribution would: lintian, appstreamcli,
# desktop-file-validate and man's warnings, each without a remark; the static
# programs run in an empty root; an upgrade from 1.0.0 without a conflict.
check-package: package
	./scripts/check-packages dist

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

tidy: configure
	git ls-files 'conversion/*.cpp' 'cli/*.cpp' 'window/*.cpp' 'app/*.cpp' | \
	    xargs clang-tidy -p $(BUILD) --quiet

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz $(WINDOWS_BUILD) $(ARM64_BUILD) dist
