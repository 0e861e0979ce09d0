# The two commands a newcomer needs: `make run` and `make test`. Everything else is for developers.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test build packages test-sanitize bench fuzz package clean

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

test-sanitize:
	@scripts/install-packages.sh build
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DPIXHOUND_SANITIZE=ON"

clean:
	rm -rf build build-sanitize
