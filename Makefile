# Two set-up commands for a fresh Debian 12 machine: `make run` and `make test`.
BUILD      ?= build
SANITIZE   ?= build-sanitize
TSAN       ?= build-tsan
BENCHDIR   ?= build-bench
FUZZDIR    ?= build-fuzz
FUZZ_SECONDS ?= 60
GENERATOR  := -G Ninja

.PHONY: all deps build run test package bench sanitize tsan fuzz clean

all: build

# Each target installs what it needs (scripts/install-deps names the groups);
# a target's groups also hold for the targets it depends on.
DEPS = build
test: DEPS = build test
package: DEPS = build package
bench: DEPS = build bench
sanitize: DEPS = build test
fuzz: DEPS = build fuzz

deps:
	@scripts/install-deps $(DEPS)

build: deps
	@cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD)

run: build
	$(BUILD)/quindelle

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure

# The Debian package, copied here so that `apt install ./quindelle_*.deb` finds it.
package: build
	rm -f $(BUILD)/quindelle_*.deb
	cd $(BUILD) && cpack -G DEB
	cp $(BUILD)/quindelle_*.deb .

bench: deps
	@cmake -S . -B $(BENCHDIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DQUINDELLE_BENCH=ON >/dev/null
	@cmake --build $(BENCHDIR)
	$(BENCHDIR)/quindelle_bench
	@if [ -x $(BENCHDIR)/quindelle_ui_bench ]; then QT_QPA_PLATFORM=offscreen $(BENCHDIR)/quindelle_ui_bench; fi
	@# The run loop once more under a real X server, where every copy to the screen costs.
	@if [ -x $(BENCHDIR)/quindelle_ui_bench ]; then QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
		$(BENCHDIR)/quindelle_ui_bench --benchmark_filter=BM_RunLoopVsCore; fi
	@# quindelle-run as a user runs it, at 1 to all cores, against what the machine's cores allow.
	PYTHONPATH=$(BENCHDIR)/python /usr/bin/python3 bench/run_speed.py --runner $(BENCHDIR)/quindelle-run
	@# The Python module's runs and calls against quindelle-run's steps.
	PYTHONPATH=$(BENCHDIR)/python /usr/bin/python3 bench/python_speed.py --runner $(BENCHDIR)/quindelle-run
	@# A 16-job sweep against the ideal, through GNU parallel and on a single-node Slurm of its own.
	/usr/bin/python3 bench/sweep_efficiency.py --build $(BENCHDIR)

# The core, the batch runner and the window code with its tests, all under
# AddressSanitizer and UndefinedBehaviorSanitizer; the window tests run offscreen.
sanitize: deps
	@cmake -S . -B $(SANITIZE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQUINDELLE_SANITIZE=ON -DQUINDELLE_CORE_ONLY=OFF >/dev/null
	@cmake --build $(SANITIZE)
	cd $(SANITIZE) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -E debian_package

# The core tests whose steps share work among threads, under ThreadSanitizer.
tsan: deps
	@cmake -S . -B $(TSAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUINDELLE_TSAN=ON -DQUINDELLE_CORE_ONLY=ON >/dev/null
	@cmake --build $(TSAN) --target quindelle_core_tests
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R "Identity|PreparedStep|SharedStep|RunObject|Energy|WorkerPool|Xyz"

# Each reader of outside bytes under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer, FUZZ_SECONDS each, from the corpus in tests/fuzz.
# Only the core is built, with clang.
fuzz: deps
	@cmake -S . -B $(FUZZDIR) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQUINDELLE_FUZZ=ON >/dev/null
	@cmake --build $(FUZZDIR)
	scripts/fuzz $(FUZZDIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SANITIZE) $(TSAN) $(BENCHDIR) $(FUZZDIR)
