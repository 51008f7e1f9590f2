# make run             build and start Quillet on the current X display
# make test            build and run every test (unit and end-to-end, headless)
# make test-sanitize   the unit tests once more under AddressSanitizer and UBSan
# make bench           run the benchmarks and print their table
# make install         build and install Quillet under PREFIX (default /usr/local); DESTDIR stages it
# make package         build a Debian package (.deb, for /usr) in the build folder
BUILD ?= build
JOBS ?= $(shell nproc)
# Lets ccache share compiled objects between checkouts of this tree.
export CCACHE_BASEDIR := $(CURDIR)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

# The unit test executables: the sanitizer and TSan runs build only these.
UNIT_TESTS = test_core test_hotkeys test_capture test_clipboard test_history test_editor test_settings test_platform test_ui test_app

.PHONY: deps configure build run test test-unit test-e2e test-sanitize test-tsan bench install package clean

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -Wno-dev $(CMAKE_FLAGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: configure
	@if [ -z "$$DISPLAY" ]; then echo "make run: no X display (DISPLAY is not set); run it inside an X11 session." >&2; exit 1; fi
	cmake --build $(BUILD) -j $(JOBS) --target quillet
	$(BUILD)/src/app/quillet

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-unit: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE e2e

test-e2e: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L e2e

test-sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_SANITIZE=ON -DQUILLET_BUILD_BENCH=OFF -Wno-dev
	cmake --build build-sanitize -j $(JOBS) --target $(UNIT_TESTS)
	cd build-sanitize && ctest --output-on-failure -j $(JOBS) -LE e2e

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TSAN=ON -DQUILLET_BUILD_BENCH=OFF -Wno-dev
	cmake --build build-tsan -j $(JOBS) --target $(UNIT_TESTS)
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -LE e2e $(TSAN_TESTS)

bench: build
	@cd $(BUILD) && for b in bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$(basename $$b)"; "$$b" --benchmark_min_time=0.2 || exit 1; done

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target quillet
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

package: configure
	cmake --build $(BUILD) -j $(JOBS) --target quillet
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/*.deb

clean:
	rm -rf $(BUILD) build-sanitize build-tsan
