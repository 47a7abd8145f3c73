# Fresh Debian 12 or Ubuntu: `make run` builds and starts the program, `make test`
# builds everything and runs the tests, `make package` builds the Debian package,
# `make bench` runs the benchmarks. run, test and package share the build folder
# and its flags: none of them rebuilds what another built.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

# Debian packages, one list per command; each command installs its own list and
# the ones before it. "a|b": the name differs between Debian and Ubuntu, and the
# one that apt offers is taken.
# Building and running the program.
RUN_PACKAGES := cmake g++ make pkg-config \
                qt6-base-dev qt6-svg-dev qt6-translations-l10n qt6-image-formats-plugins \
                libturbojpeg0-dev 'libjpeg62-turbo-dev|libjpeg-turbo8-dev' \
                libexiv2-dev liblcms2-dev libheif-dev zlib1g-dev libgs-common \
                libpng-dev libtiff-dev libwebp-dev \
                fonts-ipafont-gothic fonts-noto-cjk
# Building and running the tests, the install and package checks among them
# (dpkg-dev: dpkg-shlibdeps works out the package's library dependencies, and
# CPack finds the programs to give it with file); exiftool checks the outputs'
# metadata.
TEST_PACKAGES := desktop-file-utils appstream dpkg-dev file libimage-exiftool-perl
# Building the Debian package and checking it.
PACKAGE_PACKAGES := dpkg-dev file lintian
# The benchmarks and the tools they are compared with.
BENCH_PACKAGES := libbenchmark-dev libvips-tools imagemagick libjpeg-turbo-progs
# The fuzzers need clang's libFuzzer.
FUZZ_PACKAGES := clang
FUZZ_SECONDS ?= 60

.PHONY: deps-run deps-test deps-package deps-bench run test package sanitize sanitize-engine tsan bench fuzz clean

deps-run:
	@tools/install-packages.sh $(RUN_PACKAGES)
deps-test:
	@tools/install-packages.sh $(RUN_PACKAGES) $(TEST_PACKAGES)
deps-package:
	@tools/install-packages.sh $(RUN_PACKAGES) $(PACKAGE_PACKAGES)
deps-bench:
	@tools/install-packages.sh $(RUN_PACKAGES) $(BENCH_PACKAGES)

# Only the program itself: no test, no benchmark, no icon is built to start it.
run: deps-run
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target kestrovia
	./$(BUILD)/kestrovia

# Warnings fail the build with the compiler CI uses (see CMakeLists.txt), in every
# command alike, so that the flags never change between them.
test: deps-test
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# The program, its launcher entry, icons, metainfo and manual pages as a .deb in
# $(BUILD)/package, checked by lintian (which fails on errors).
package: deps-package
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target kestrovia kestrovia_desktop_files
	rm -rf $(BUILD)/package
	cd $(BUILD) && cpack -B package
	lintian --fail-on error $(BUILD)/package/*.deb

# The same tests under AddressSanitizer and UBSan, in a separate build folder.
ASAN_FLAGS := -DKESTROVIA_SANITIZE=ON -DKESTROVIA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
sanitize:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="$(ASAN_FLAGS)"

# Only the engine's, the export's and the batch's tests under them, in the same
# folder: run it before a change to pixels or files lands (CI's time, after make
# test and make tsan, does not leave room for it). The whole suite's build under
# them would take far longer for the widgets' tests, which handle no pixels or files
# of their own; the route matrix, whose float references run unoptimised there,
# would take several times the rest.
SANITIZE_TESTS := compose_tst_jobcompose compose_tst_picturedecoder compose_tst_tiffdecoder export_tst_export \
                  batch_tst_batchpipeline
sanitize-engine: deps-test
	cmake -S . -B build-asan $(ASAN_FLAGS)
	cmake --build build-asan -j$(JOBS) --target $(SANITIZE_TESTS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure \
	  -R '^($(shell echo $(SANITIZE_TESTS) | tr ' ' '|'))$$'

# The threaded code (engine, export, batch, the preview's renderer, the drop's reader) under
# ThreadSanitizer. Qt itself is not
# instrumented; tools/tsan.supp names the few reports that come from inside it.
# die_after_fork=0: QProcess starts exiftool through vfork, after which the checker
# takes the test itself for a forked child and would end it at its next thread.
# ignore_noninstrumented_modules=1: the memcpy and memmove that Qt's own code calls
# (its thread pool's queue, its image conversions) are not checked; Qt guards them
# with futex locks the checker cannot see, and none of Qt's plain accesses are seen
# either. Locks and threads started by Qt are still followed.
# GCC 12's checker cannot place its shadow memory under the wider address
# randomisation of newer kernels ("unexpected memory mapping"): the tests run with
# randomisation off where the system allows it.
NO_ASLR := $(shell setarch $$(uname -m) -R true 2>/dev/null && echo setarch $$(uname -m) -R)
TSAN_TESTS := compose_tst_picturedecoder compose_tst_jobcompose export_tst_export batch_tst_batchpipeline \
              preview_tst_previewrenderer joblist_tst_dropimport
tsan: deps-test
	cmake -S . -B build-tsan -DKESTROVIA_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-tsan -j$(JOBS) --target $(TSAN_TESTS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 ignore_noninstrumented_modules=1 \
	  suppressions=$(CURDIR)/tools/tsan.supp" \
	  QT_QPA_PLATFORM=offscreen $(NO_ASLR) ctest --output-on-failure -R '^($(shell echo $(TSAN_TESTS) | tr ' ' '|'))$$'

bench: deps-bench
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DKESTROVIA_BENCH=ON
	cmake --build $(BUILD) -j$(JOBS) --target kestrovia_bench preview_bench
	bench/compare.sh $(BUILD)

# The decoder, the converter, the metadata blocks and ICC profiles under libFuzzer
# with ASan and UBSan, each for FUZZ_SECONDS, starting from corpora of every format
# (JPEG, BMP, PNG, TIFF, WebP, GIF, HEIF), camera metadata and profiles.
FUZZERS := decoder:pictures converter:pictures metadata:metadata iccprofile:icc
fuzz:
	@tools/install-packages.sh $(RUN_PACKAGES) $(FUZZ_PACKAGES)
	cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKESTROVIA_FUZZ=ON \
	      -DKESTROVIA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-fuzz -j$(JOBS) --target fuzz_decoder fuzz_converter fuzz_metadata fuzz_iccprofile fuzz_seeds
	build-fuzz/tests/fuzz/fuzz_seeds build-fuzz/seeds
	for pair in $(FUZZERS); do \
	  f=$${pair%%:*}; seeds=$${pair#*:}; \
	  mkdir -p build-fuzz/corpus-$$f; \
	  build-fuzz/tests/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 \
	      -print_final_stats=1 build-fuzz/corpus-$$f build-fuzz/seeds/$$seeds || exit 1; \
	done

clean:
	rm -rf build build-asan build-tsan build-fuzz
