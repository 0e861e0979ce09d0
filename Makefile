# The two commands a newcomer needs: `make run` and `make test`. Everything else is for developers.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test build packages test-sanitize bench fuzz package clean format format-check

packages:
	@scripts/install-packages.sh build

$(BUILD)/build.ninja: | packages
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: packages $(BUILD)/build.ninja
	cmake --build $(BUILD)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	    echo "Pixhound needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set)."; exit 1; fi
	$(BUILD)/pixhound

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

# Leak checking stays on; only leaks inside the system libraries named in scripts/lsan.supp pass.
test-sanitize:
	@scripts/install-packages.sh build
	LSAN_OPTIONS="suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0" $(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DPIXHOUND_SANITIZE=ON"

# A .deb of the program (build-package/pixhound_*.deb), after the menu entry and the AppStream
# metadata have passed their validators. Install it with: sudo apt-get install ./build-package/pixhound_*.deb
package:
	@scripts/install-packages.sh package
	desktop-file-validate packaging/pixhound.desktop
	appstreamcli validate --no-net packaging/io.github.pixhound.Pixhound.metainfo.xml
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPIXHOUND_BUILD_TESTS=OFF
	cmake --build build-package
	cd build-package && cpack
	@ls build-package/*.deb

# The benchmark against wget and wget2 on loopback (not part of `make test`):
# make bench [BENCH_SIZE=small|large] [BENCH_ARGS="--rounds 2 --profile ..."]
BENCH_SIZE ?= large
bench:
	@scripts/install-packages.sh bench
	@# A build folder made before bench/ existed learns of the bench targets by configuring again.
	@if [ -f $(BUILD)/build.ninja ]; then cmake -S . -B $(BUILD) >/dev/null; \
	else cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS); fi
	@for target in pixhound_run bench_scan bench_lists bench_crawl_lists; do \
	    cmake --build $(BUILD) --target $$target -j2 || { rm -f $(BUILD)/bench/$$target; echo "bench: $$target could not be built; it is left out"; }; \
	done
	python3 bench/run.py --size $(BENCH_SIZE) --build $(BUILD) $(BENCH_ARGS)

clean:
	rm -rf build build-sanitize build-package build-fuzz

# The house style is the repository's .clang-format: `make format` applies it to every source,
# `make format-check` fails on the first file that differs from it.
FORMAT_FILES = $(shell find src tests bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null | sort)
format:
	@scripts/install-packages.sh format
	clang-format -i $(FORMAT_FILES)

format-check:
	@scripts/install-packages.sh format
	clang-format --dry-run --Werror $(FORMAT_FILES)

# Each fuzz target runs for FUZZ_SECONDS on a copy of its seed corpus; crashes land in build-fuzz/.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := getlinkurl attributescan pagetext imagelist
fuzz:
	@scripts/install-packages.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPIXHOUND_FUZZ=ON -DPIXHOUND_BUILD_TESTS=OFF
	cmake --build build-fuzz --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@set -e; for t in $(FUZZ_TARGETS); do \
	    mkdir -p build-fuzz/corpus/$$t build-fuzz/crashes/$$t; \
	    cp -n fuzz/corpus/$$t/* build-fuzz/corpus/$$t/ 2>/dev/null || true; \
	    echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	    status=0; (cd build-fuzz/crashes/$$t && ../../fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	        -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ../../corpus/$$t \
	        > ../../fuzz-$$t.log 2>&1) || status=$$?; \
	    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|SUMMARY' build-fuzz/fuzz-$$t.log || true; \
	    if [ $$status -ne 0 ]; then echo "fuzz_$$t failed: see build-fuzz/fuzz-$$t.log"; exit 1; fi; \
	done
