# One-command set-up on a fresh Debian machine: `make run` and `make test` install missing
# packages, configure, build, and then run the saver or every test. `make run`, `make install`
# and `make deb` install only what building needs; the test targets also what testing needs.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBREL_WERROR=ON
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
# make buildtypes: the build types it builds, each with g++ and clang++.
BUILD_TYPES ?= Release Debug RelWithDebInfo MinSizeRel
# Any sanitizer report ends the program with a failure; third-party leaks are listed in
# tests/lsan.supp.
SANITIZER_ENV = ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

.PHONY: all deps test-deps configure build run lint test unit integration install uninstall \
  deb clean demo asan fuzz soak mutate buildtypes

all: build

deps:
	@bash scripts/deps.sh

test-deps:
	@bash scripts/deps.sh --test

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# With a display: the saver in a window. Without one: a demo picture rendered headless.
run: build
	@bash scripts/run.sh $(BUILD)

# Any file that clang-format would change, and any clang-tidy finding, fails.
lint: test-deps configure
	@bash scripts/lint.sh $(BUILD) $(JOBS)

# The package is built once (make deb) for every test that uses it: the package checks (lintian,
# the autopkgtest, a second build compared byte for byte) and the integration test that installs
# it.
test: test-deps build
	@$(MAKE) --no-print-directory lint
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit
	@cd $(BUILD) && ctest --output-on-failure -L 'reliability|soak'
	@cd $(BUILD) && JOBS=$(JOBS) ctest --output-on-failure -L buildtypes
	@$(MAKE) --no-print-directory deb
	@cd $(BUILD) && ctest --output-on-failure -L package
	@if [ -n "$$(cd $(BUILD) && ctest -N -L integration | grep 'Test #')" ]; then \
	  cd $(BUILD) && ctest --output-on-failure -L integration; fi
	@$(MAKE) --no-print-directory asan
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=30

# The unit tests and the renderer under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: test-deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DNIMBREL_SANITIZE=ON >/dev/null
	@$(SANITIZER_ENV) cmake --build $(ASAN_BUILD) -j $(JOBS) --target unit_tests nimbrel nimbrel-describe settings_files translations
	@cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) -L 'unit|reliability'

# Each libFuzzer target for FUZZ_SECONDS, in a clang build of its own.
fuzz: test-deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_FLAGS) -DNIMBREL_FUZZ=ON \
	  -DNIMBREL_FUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_preferences fuzz_render_args
	@cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS) -L fuzz
	@grep -hE '^(Done [0-9]+ runs|stat::new_units_added)|Test: fuzz' \
	  $(FUZZ_BUILD)/Testing/Temporary/LastTest.log || true

# The long soak: 200,000 frames (about two minutes), against 20,000 for peak memory.
soak: test-deps build
	@cd $(BUILD) && NIMBREL_SOAK_FRAMES=200000 ctest --verbose -L soak

# Every fault of tests/mutation/mutants.txt put into a copy of the tree (build-mutate/), one at a
# time, against the unit tests and the fast reliability scripts. Long: see the README.
mutate: test-deps
	@python3 scripts/mutate.py --jobs $(JOBS)

# The programs in each of BUILD_TYPES with g++ and with clang++, warnings as errors, one build
# tree each in $(BUILD)/types/<compiler>-<type>; stops at the first that fails. make test builds
# the Release pair (the test buildtypes.release) in the same trees.
buildtypes: test-deps
	@JOBS=$(JOBS) bash tests/reliability/build_types.sh $(BUILD)/types $(BUILD_TYPES)

unit: test-deps build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

integration: test-deps build
	@cd $(BUILD) && ctest --output-on-failure -L integration

install: build
	@cmake --install $(BUILD)

# Removes what the last `make install` from $(BUILD) installed (its install_manifest.txt).
uninstall:
	@cmake --build $(BUILD) --target uninstall

# dist/nimbrel_<version>_<arch>.deb and its -dbgsym package: dpkg-buildpackage -b in a copy of
# the tree (build-deb/).
deb: deps
	@bash packaging/dpkg-build.sh $(JOBS)

clean:
	@rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-deb build-mutate dist
