# Everything a fresh Debian machine needs: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
# What building and running the program needs (the test framework too: the
# configuration looks for it), then what only the tests, the benchmarks and
# the virtual desktop for trying the window need.
RUN_PACKAGES = cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev googletest \
               qt6-base-dev qt6-svg-dev qt6-multimedia-dev ccache
PACKAGES = $(RUN_PACKAGES) libbenchmark-dev xvfb xauth xdotool openbox x11-apps imagemagick
# The program and the generator of the bundled example: all that `make run` builds.
RUN_TARGETS = tarnel tarnel_make_example

.PHONY: all bootstrap bootstrap-run configure configure-run build test test-whole run bench asan clean

all: build

# Installs only what is missing of the packages named; apt-get update runs
# once, when needed.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=""; [ "$$(id -u)" = 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
endef

bootstrap:
	$(call install_missing,$(PACKAGES))

bootstrap-run:
	$(call install_missing,$(RUN_PACKAGES))

$(BUILD)/build.ninja: CMakeLists.txt | bootstrap
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: bootstrap
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure-run: bootstrap-run
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# A bound on each test, so that a test that hangs fails instead of holding
# the run: seconds for all but the rows of the fit table, which carry a bound
# of their own sized from their CPU time (tests/CMakeLists.txt, label
# "heavy"; each test prints its CPU time last, "[ cpu      ]"). The
# sanitizer's unoptimised build runs the tests about ten times slower.
TEST_TIMEOUT ?= 600
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout $(TEST_TIMEOUT)

# Each test program whole, in one process, as a developer runs it: in the
# default order and shuffled with each seed of SEEDS. ctest gives every test
# a process of its own and would not see one test's state reach the next.
SEEDS ?= 1 2 3
test-whole: build
	@failed=0; for b in $(BUILD)/tests/test_*; do [ -x $$b ] || continue; \
	  for seed in 0 $(SEEDS); do \
	    if [ $$seed = 0 ]; then args=""; else args="--gtest_shuffle --gtest_random_seed=$$seed"; fi; \
	    if QT_QPA_PLATFORM=offscreen $$b $$args > $(BUILD)/whole.log 2>&1; then echo "ok   $$b $$args"; \
	    else echo "FAIL $$b $$args"; grep -E '^\[  FAILED  \] [A-Za-z]' $(BUILD)/whole.log | sort -u; tail -1 $(BUILD)/whole.log; failed=1; fi; \
	  done; done; exit $$failed

# Builds only what it runs; `make test` and `make bench` build the rest.
run: configure-run
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	./scripts/run-example.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x $$b ] && $$b --benchmark_min_time=0.2; done

# Debug build with AddressSanitizer and UBSan.
asan:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/lsan.supp $(MAKE) test BUILD=build-asan TEST_TIMEOUT=2400 CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DTARNEL_SANITIZE=ON -DTARNEL_BENCH=OFF"

clean:
	rm -rf $(BUILD) build-asan
