# Quorvane: set-up, build, test and demo in one place.
#   make demo          - the main job on the default virtual drive
#   make test          - configure, build and run every test
#   make bench-grab    - our grab beside readom and dd from QEMU's drive (prints MB/s)
#   make windows       - the mingw-w64 cross-build (Quorvane.dll, Quorvane.ocx, tests)
#   make test-windows  - the Windows tests and the automation server under Wine
#   make package       - Debian packages of the library, the virtual drive and the command
#   make install       - the same files under DESTDIR (default /), prefix /usr
#   make package-test  - installs the packages into a fresh Debian chroot and uses them
# Both install missing Debian packages first (as root), or say what to run.

BUILD      ?= build
JOBS       ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
CTEST      := ctest --output-on-failure -j$(JOBS) --timeout 600

BUILD_PACKAGES := cmake ninja-build g++ ccache pkg-config libgtest-dev libgmock-dev \
  libbenchmark-dev libcli11-dev nlohmann-json3-dev \
  libvorbis-dev libmpg123-dev libflac-dev python3
TEST_PACKAGES := genisoimage xorriso udftools python3-pycdlib p7zip-full libarchive-tools \
  libcdio-utils lsdvd dvdbackup vcdimager cdrdao cdrskin iat qemu-system-x86 busybox-static \
  clang libclang-rt-14-dev libvorbisfile3 libvorbisenc2 libmpg123-0 libflac12 vorbis-tools sox libsox-fmt-mp3 \
  groff-base man-db bsdextrautils ffmpeg cuetools id3v2
# What the grab benchmark compares with, and traces both with.
BENCH_PACKAGES := wodim strace
# What tools/demo.sh runs beside the command: bsdtar checks the disc.
DEMO_PACKAGES := libarchive-tools
# What CPack's Debian generator runs (dpkg-shlibdeps, file), and what the
# package test builds its chroot with.
PACKAGE_PACKAGES := dpkg-dev file
PACKAGE_TEST_PACKAGES := debootstrap libarchive-tools
WINDOWS_PACKAGES := g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine64 googletest

WINDOWS_BUILD      ?= build-windows
WINDOWS_BUILD_TYPE ?= Release

.PHONY: all deps deps-test deps-demo deps-windows build test asan tsan windows test-windows demo bench bench-grab fuzz clean \
  package package-build install package-test

all: build

deps:
	@tools/ensure-packages.sh $(BUILD_PACKAGES)

deps-test: deps
	@tools/ensure-packages.sh $(TEST_PACKAGES)

deps-demo: deps
	@tools/ensure-packages.sh $(DEMO_PACKAGES)

deps-windows:
	@tools/ensure-packages.sh $(WINDOWS_PACKAGES)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j$(JOBS)

# The outside programs are installed here, so a test missing one fails
# rather than skips (plain ctest still skips).
test: deps-test build
	cd $(BUILD) && QUORVANE_REQUIRE_PROGRAMS=1 $(CTEST)

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer. Tests
# that run outside programs in a guest or under Wine are left to make test.
asan: deps-test
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_BENCH=OFF \
	  -DQUORVANE_SANITIZE=address,undefined $(CMAKE_ARGS)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(CTEST) -LE 'guest|wine'

# The threaded tests under ThreadSanitizer.
tsan: deps-test
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVANE_BENCH=OFF \
	  -DQUORVANE_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST) -L threaded

# The Windows cross-build: engine, automation server and test programs.
windows: deps deps-windows
	cmake -S . -B $(WINDOWS_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=$(WINDOWS_BUILD_TYPE) -DQUORVANE_CLI=OFF -DQUORVANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(WINDOWS_BUILD) -j$(JOBS)

# Its tests under Wine, then the server registered and driven by clients.
test-windows: windows build
	tests/windows/run-wine.sh $(WINDOWS_BUILD) $(BUILD)

# The main job needs the command and the virtual drive, nothing more: a
# build of its own without tests, benchmarks or debug information, which
# would take three times as long on two cores.
DEMO_BUILD ?= build-demo
demo: deps-demo
	cmake -S . -B $(DEMO_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" \
	  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" -DQUORVANE_TESTS=OFF -DQUORVANE_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(DEMO_BUILD) -j$(JOBS) --target quorvane_cli quorvane_vdrive
	@tools/demo.sh $(DEMO_BUILD)

# The packages are made from the build tree, for prefix /usr (a tree
# configured before for another prefix is set to /usr first); make install
# lays out the same files. Stripping happens while packaging.
DESTDIR ?=
package-build: build
	@tools/ensure-packages.sh $(PACKAGE_PACKAGES)
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=/usr >/dev/null

package: package-build
	rm -f $(BUILD)/*.deb
	cd $(BUILD) && cpack -G DEB >/dev/null
	@ls -1 $(BUILD)/*.deb

install: package-build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

# After make test in CI: the packages in a debootstrapped Debian 12.
package-test: package
	@tools/ensure-packages.sh $(PACKAGE_TEST_PACKAGES)
	tests/package/run.sh $(BUILD) $(BUILD)/package-test

# The libFuzzer targets, built with clang, each run as a ctest labelled
# fuzz for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps-test
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DQUORVANE_FUZZ=ON -DQUORVANE_BENCH=OFF -DQUORVANE_CLI=OFF \
	  -DQUORVANE_FUZZ_SECONDS=$(FUZZ_SECONDS) $(CMAKE_ARGS)
	cmake --build build-fuzz -j$(JOBS) --target $$(ninja -C build-fuzz -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\):.*/\1/p' | sort -u)
	cd build-fuzz && $(CTEST) -L fuzz

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Our track grab beside readom and dd from QEMU's drives, in one guest.
bench-grab: deps-test build
	@tools/ensure-packages.sh $(BENCH_PACKAGES)
	bench/grab_vs_readom.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(DEMO_BUILD) build-asan build-tsan build-fuzz $(WINDOWS_BUILD)
