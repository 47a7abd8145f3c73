# Fresh Debian 12: `make run` starts the program, `make test` builds and runs every test.
BUILD ?= build
CMAKE_FLAGS ?=
PACKAGES := cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools libturbojpeg0-dev \
            libjpeg62-turbo-dev libbenchmark-dev fonts-ipafont-gothic fonts-noto-cjk \
            xvfb xauth
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build run test sanitize bench clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$$(nproc)

run: build
	./$(BUILD)/kestrovia

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$$(nproc)

# The same tests under AddressSanitizer and UBSan, in a separate build folder.
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DKESTROVIA_SANITIZE=ON -DKESTROVIA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"

bench: build
	bench/compare.sh $(BUILD)

clean:
	rm -rf build build-asan
