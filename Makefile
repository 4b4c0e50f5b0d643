# Volnex: build, test and run.
#   make demo   the program on a virtual serial line, called by veldrin-sim
#   make run    build and start the program with your profile
#   make test   install what is missing, build, run every test
#   make bench  print the performance figures
#   make deb    build the Debian package build/volnex_<version>_amd64.deb
#   make install  install under PREFIX (default /usr/local); DESTDIR stages
JOBS ?= 2
BUILD := build
ASAN := build-asan
FUZZ := build-fuzz
TSAN := build-tsan
FUZZ_SECONDS ?= 30

.PHONY: all setup build build-asan build-tsan build-fuzz test test-main test-asan test-tsan \
        test-fuzz run demo bench clean

all: build

setup:
	@scripts/setup

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# The core tests again with AddressSanitizer, LeakSanitizer and UBSan.
build-asan: setup
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DVOLNEX_GUI=OFF -DVOLNEX_SANITIZE=ON
	cmake --build $(ASAN) -j $(JOBS)

# The core tests again with ThreadSanitizer.
build-tsan: setup
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=Debug -DVOLNEX_GUI=OFF -DVOLNEX_TSAN=ON
	cmake --build $(TSAN) -j $(JOBS)

# The engine fuzz target (clang's libFuzzer), also under the sanitizers.
build-fuzz: setup
	CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLNEX_GUI=OFF \
	    -DVOLNEX_TESTS=OFF -DVOLNEX_FUZZ=ON -DVOLNEX_SANITIZE=ON
	cmake --build $(FUZZ) -j $(JOBS)

test: build build-asan build-tsan build-fuzz
	$(MAKE) --no-print-directory test-fuzz test-main test-asan test-tsan

# Core tests and GUI tests (the latter under xvfb-run).
test-main:
	cd $(BUILD) && ctest --output-on-failure

test-asan:
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure

test-tsan:
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure

# Inputs that break an invariant are kept under $(FUZZ)/artifacts.
test-fuzz:
	@mkdir -p $(FUZZ)/corpus $(FUZZ)/artifacts
	@$(FUZZ)/page_terminal_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=1024 \
	    -artifact_prefix=$(FUZZ)/artifacts/ \
	    -print_final_stats=1 $(FUZZ)/corpus tests/fuzz/corpus > $(FUZZ)/fuzz.log 2>&1; \
	    status=$$?; tail -n 12 $(FUZZ)/fuzz.log; \
	    if [ $$status -ne 0 ]; then echo "fuzzing found a fault: see $(FUZZ)/fuzz.log"; fi; \
	    exit $$status

run: build
	$(BUILD)/volnex

# The program on a virtual serial line, called by veldrin-sim.
demo: build
	@scripts/setup --demo
	scripts/demo $(BUILD)

# Performance figures, measured on this machine (not pass/fail tests).
bench: build
	@scripts/setup --bench
	xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bench/run-bench.sh $(BUILD)

.PHONY: install deb

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, checked with lintian (errors and warnings shown).
deb: build
	cd $(BUILD) && cpack -G DEB
	lintian $(BUILD)/volnex_*_amd64.deb

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ)
