# Fresh Debian 12 or Ubuntu: `make run` builds and starts the program, `make test`
# builds everything and runs the tests, `make bench` runs the benchmarks.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

# Debian packages, one list per command; each command installs its own list and
# the ones before it. "a|b": the name differs between Debian and Ubuntu, and the
# one that apt offers is taken.
# Building and running the program.
RUN_PACKAGES := cmake g++ make pkg-config \
                qt6-base-dev qt6-svg-dev qt6-translations-l10n \
                libturbojpeg0-dev 'libjpeg62-turbo-dev|libjpeg-turbo8-dev' \
                fonts-ipafont-gothic fonts-noto-cjk
# Building and running the tests, the install check among them.
TEST_PACKAGES := desktop-file-utils appstream
# The benchmarks and the tools they are compared with.
BENCH_PACKAGES := libbenchmark-dev libvips-tools imagemagick

.PHONY: deps-run deps-test deps-bench run test sanitize bench clean

deps-run:
	@tools/install-packages.sh $(RUN_PACKAGES)
deps-test:
	@tools/install-packages.sh $(RUN_PACKAGES) $(TEST_PACKAGES)
deps-bench:
	@tools/install-packages.sh $(RUN_PACKAGES) $(BENCH_PACKAGES)

# Only the program itself: no test, no benchmark, no icon is built to start it.
run: deps-run
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target kestrovia
	./$(BUILD)/kestrovia

test: deps-test
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# The same tests under AddressSanitizer and UBSan, in a separate build folder.
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DKESTROVIA_SANITIZE=ON -DKESTROVIA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"

bench: deps-bench
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DKESTROVIA_BENCH=ON
	cmake --build $(BUILD) -j$(JOBS) --target kestrovia_bench
	bench/compare.sh $(BUILD)

clean:
	rm -rf build build-asan
