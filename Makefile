# The two everyday commands:
#   make run    install what is missing, build, start Spacemole
#   make test   install what is missing, build with -Werror, run every test,
#               then the unit tests again under ASan+UBSan
# Further targets: build, tsan, fuzz, fuzz-smoke, bench, format, format-check,
# mutate (deliberate faults the tests must catch; slow, not part of test), clean.

JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
BUILD     ?= build
CMAKE_GEN := -G Ninja
CTEST     := ctest --output-on-failure --no-tests=error -j$(JOBS)

.PHONY: all deps build run test test-main layers tsan fuzz fuzz-smoke asan bench mutate format \
        format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j$(JOBS)

# Builds only what the program links, not the tests. Without a display the
# window cannot open, so the command-line report of the same folder is shown.
run: deps $(BUILD)/build.ninja
	@folder="$${ARGS:-$$HOME}"; \
	if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): showing the command-line report of $$folder instead."; \
	  cmake --build $(BUILD) -j$(JOBS) --target spacemole-scan && \
	  exec $(BUILD)/spacemole-scan --top 10 "$$folder"; \
	else \
	  cmake --build $(BUILD) -j$(JOBS) --target spacemole && exec $(BUILD)/spacemole "$$folder"; \
	fi

# Everything CI runs. Order: formatting, the -Werror build with every test,
# the fuzz smoke run, ThreadSanitizer on the threaded modules, and last the
# unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, so CTest's
# summary closes the output.
test: deps format-check layers test-main fuzz-smoke tsan asan
	@bash scripts/test_ratio.sh

# Core sources stay free of GTK, GLib, cairo and pango headers.
layers:
	@bash scripts/check_layers.sh

test-main:
	cmake -S . -B build-werror $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPACEMOLE_WERROR=ON
	cmake --build build-werror -j$(JOBS)
	cd build-werror && $(CTEST)

asan:
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSPACEMOLE_WERROR=ON \
	  -DSPACEMOLE_SANITIZE=address,undefined -DSPACEMOLE_BENCH=OFF
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 $(CTEST) -L unit

tsan:
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPACEMOLE_WERROR=ON \
	  -DSPACEMOLE_SANITIZE=thread -DSPACEMOLE_BENCH=OFF
	cmake --build build-tsan -j$(JOBS) --target tsan_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(CTEST) -L tsan

fuzz:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSPACEMOLE_FUZZ=ON -DSPACEMOLE_UNIT_TESTS=OFF -DSPACEMOLE_BENCH=OFF \
	  -DSPACEMOLE_SANITIZE=address,undefined -DSPACEMOLE_FUZZ_SECONDS=$${FUZZ_SECONDS:-60}
	cmake --build build-fuzz -j$(JOBS)
	cd build-fuzz && ctest --output-on-failure --no-tests=ignore -L fuzz -j1

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=5

# Applies each deliberate fault of scripts/mutate.py to a scratch copy and
# reports which ones the tests catch. ARGS="--only trash" runs a subset. It
# fails when a mutant that scripts/mutate-baseline.json records as killed
# survives; refresh that file with ARGS="--save scripts/mutate-baseline.json".
mutate:
	python3 scripts/mutate.py --compare scripts/mutate-baseline.json $(ARGS)

bench: deps
	bash scripts/install-deps.sh --bench
	cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench/*_bench; do echo "== $$b"; $$b; done

FORMAT_FILES = $(shell git ls-files -co --exclude-standard -- '*.cpp' '*.h' 2>/dev/null)

format:
	clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run -Werror $(FORMAT_FILES) && echo "formatting: clean"
	@python3 scripts/gen_i18n.py --check
	@python3 scripts/gen_icon_data.py --check

clean:
	rm -rf build build-werror build-asan build-tsan build-fuzz build-bench
