# Everything a fresh Debian 12 machine needs to build, test and run vorlak.
SHELL   := /bin/bash
PY      := /usr/bin/python3
BUILD   := build
ASAN    := build-asan
FUZZ    := build-fuzz
SAMPLE  := sample/sample.grib
DEB_PKGS := meson ninja-build g++ python3-dev python3-numpy python3-pytest \
            python3-mesonpy python3-venv libopenjp2-7-dev libaec-dev libpng-dev zlib1g-dev libgtest-dev \
            python3-xarray python3-dask python3-distributed \
            python3-pyproj python3-fsspec python3-zarr python3-numcodecs python3-netcdf4 python3-matplotlib python3-cartopy

# The fuzz build (clang 16 with libc++) and the leak check (valgrind) are
# installed by the targets that use them, not by `make test`.
FUZZ_PKGS := clang-16 libclang-rt-16-dev libc++-16-dev libc++abi-16-dev
LEAK_PKGS := valgrind

export PYTHONDONTWRITEBYTECODE := 1

.DELETE_ON_ERROR:
.PHONY: all deps deps-run deps-fuzz build build-tests build-bench build-asan test test-cpp test-asan test-python test-corpus \
        check-core run bench templates tables test-leaks fuzz fuzz-build fuzz-regress fuzz-seeds fuzz-long clean

all: build

# What `make run` needs of DEB_PKGS: a compiler, meson and ninja, the Python
# headers, NumPy and the codec libraries (pkg-config: meson finds
# OpenJPEG through it). The rest of DEB_PKGS serves the tests, fuzzing,
# the xarray backend and installing with pip.
RUN_PKGS := meson ninja-build g++ pkg-config python3-dev python3-numpy libopenjp2-7-dev libaec-dev libpng-dev

# Installs only what is missing of the packages named; a no-op (one dpkg
# query each) when all is there.
define install_missing
@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
if [ -n "$$missing" ]; then \
  echo "installing:" $$missing; \
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
fi
endef

deps:
	$(call install_missing,$(sort $(RUN_PKGS) $(DEB_PKGS)))

deps-run:
	$(call install_missing,$(RUN_PKGS))

deps-fuzz: deps
	$(call install_missing,$(FUZZ_PKGS))

# build/ holds the modules, and the C++ tests and benchmarks once a target
# that runs them has switched them on (`meson configure`): `make run` and
# `make build` compile the two modules alone (the codes API and the field
# API, which the command line reads through). (Expanded when used: on a
# fresh machine Python comes with the packages.)
EXT_SUFFIX = $(shell $(PY) -c "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))")
MODULES = _vorlak$(EXT_SUFFIX) _fields$(EXT_SUFFIX)

$(BUILD)/build.ninja:
	meson setup $(BUILD)

# Re-running setup picks up added source files (the build lists folders).
build: deps-run $(BUILD)/build.ninja
	@meson setup --reconfigure $(BUILD) >/dev/null
	ninja -C $(BUILD) $(MODULES)
	@for m in $(MODULES); do ln -sf ../$(BUILD)/$$m vorlak/$$m; done

build-tests: deps build
	@meson configure $(BUILD) -Dtests=true >/dev/null
	ninja -C $(BUILD) vorlak_tests

build-bench: deps build
	@meson configure $(BUILD) -Dbenchmarks=true >/dev/null
	ninja -C $(BUILD)

$(ASAN)/build.ninja:
	meson setup $(ASAN) -Dtests=true -Dbuildtype=debug -Doptimization=1 \
	  -Db_sanitize=address,undefined -Db_lundef=false

build-asan: deps $(ASAN)/build.ninja
	@meson setup --reconfigure $(ASAN) >/dev/null
	ninja -C $(ASAN) vorlak_tests

check-core:
	$(PY) tools/check_core_headers.py

# The parameter, level and centre tables of src/compat/generated, from the code
# tables in ../shared/tables (tools/gen_tables.py). The generated headers are
# committed: the build never needs ../shared.
tables:
	$(PY) tools/gen_tables.py

# The template layouts (src/grib/generated/template_layouts.cpp and
# tools/template_layouts.py) from the WMO tables in ../shared/tables; the
# build uses the committed files and never needs ../shared.
templates:
	$(PY) tools/gen_templates.py

test-cpp: build-tests
	$(BUILD)/vorlak_tests --gtest_brief=1

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(ASAN)/vorlak_tests --gtest_brief=1

test-python: deps build
	PYTHONPATH=$(CURDIR) $(PY) -m pytest -q -p no:cacheprovider tests/python

# The malformed-input corpus (tools/make_corpus.py): a fixed slice here,
# every case in fuzz-long.
# Real messages (../shared/testdata, when present) decode slowly, so they get
# a slice of their own.
CORPUS_SAMPLE      ?= 3000
CORPUS_REAL_SAMPLE ?= 300
test-corpus: build
	PYTHONPATH=$(CURDIR) $(PY) tools/run_corpus.py --no-testdata --sample $(CORPUS_SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) tools/run_corpus.py --filter real_ --sample $(CORPUS_REAL_SAMPLE)

# The leak workload (tools/leak_workload.py) under valgrind, failing only on
# errors in module code. Kept out of `make test`: valgrind and the
# interpreter together take minutes.
LEAK_LIFETIMES ?= 40
test-leaks: deps build
	$(call install_missing,$(LEAK_PKGS))
	$(PY) tools/valgrind_check.py tools/leak_workload.py $(LEAK_LIFETIMES)

# The seeds and kept inputs of every fuzz target are replayed by the C++
# suite itself (tests/cpp/fuzz_regressions_test.cpp), in the normal and the
# ASan/UBSan builds, so the clang fuzz build stays out of `make test`.
# The benchmarks are compiled (not run), so that they keep building.
test: deps check-core test-cpp test-asan test-python test-corpus build-bench

$(SAMPLE): build tools/make_sample.py
	@mkdir -p sample
	PYTHONPATH=$(CURDIR) $(PY) tools/make_sample.py $(SAMPLE)

run: build $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak ls $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak stats $(SAMPLE)

bench: build-bench
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b; done
	@for p in bench/*.py; do echo "== $$p"; PYTHONPATH=$(CURDIR) $(PY) $$p || exit 1; done

# ------------------------------------------------------------------ fuzzing
# libFuzzer targets: every fuzz/*_fuzz.cpp, built with clang 16 and libc++
# (clang 16 cannot compile libstdc++'s <expected>) against the core sources,
# under ASan and UBSan. libFuzzer's own runtime needs libstdc++, hence the
# -Wl,-lstdc++ (a plain -lstdc++ is rewritten under -stdlib=libc++).
#   make fuzz          each target for FUZZ_SECONDS from its seeds (fuzz/corpus/<target>),
#                      FUZZ_JOBS targets at a time
#   make fuzz-regress  every seed and kept crash input (fuzz/regressions/<target>) once
#   make fuzz-seeds    rewrites the seed corpora from the test builders
#   make fuzz-long     the whole malformed-input corpus, then each target for FUZZ_LONG_SECONDS
FUZZ_CXX          := clang++-16
NPROC             := $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS      ?= 60
FUZZ_LONG_SECONDS ?= 600
FUZZ_TARGETS      := $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
FUZZ_CORE_SRCS    := $(shell $(PY) tools/list_sources.py src/grib src/compat src/types src/core) \
                     tests/cpp/support/message_builder.cpp tests/cpp/support/template_builder.cpp
FUZZ_OBJS         := $(patsubst %.cpp,$(FUZZ)/obj/%.o,$(FUZZ_CORE_SRCS))
FUZZ_CXXFLAGS     := -std=c++2b -stdlib=libc++ -O1 -g -fno-omit-frame-pointer -Wall -Wextra \
                     -I. -Isrc -Itests/cpp -Ifuzz -I/usr/include/openjpeg-2.5 -I/usr/include/libpng16 \
                     -DVORLAK_SOURCE_ROOT='"$(CURDIR)"'
FUZZ_SAN          := -fsanitize=address,undefined -fno-sanitize-recover=undefined
FUZZ_LIBS         := -lopenjp2 -laec -lpng16 -lz -lpthread -Wl,-lstdc++
# -rss_limit_mb and -timeout are hang guards (memory and seconds per input),
# far above what any input takes; nothing is asserted on speed.
FUZZ_RUN_FLAGS    := -rss_limit_mb=3072 -timeout=60 -max_len=65536

$(FUZZ)/obj/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) $(FUZZ_SAN) -fsanitize=fuzzer-no-link -MMD -MP -c $< -o $@

-include $(FUZZ_OBJS:.o=.d)

$(FUZZ)/%_fuzz: fuzz/%_fuzz.cpp $(FUZZ_OBJS) $(wildcard fuzz/*.hpp) $(wildcard tests/cpp/support/*.hpp)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) $(FUZZ_SAN) -fsanitize=fuzzer $< $(FUZZ_OBJS) $(FUZZ_LIBS) -o $@

# Seed writers: make_seeds (the decoder targets) and make_message_seeds (the
# message-level targets).
$(FUZZ)/make_seeds $(FUZZ)/make_message_seeds: $(FUZZ)/%: fuzz/%.cpp $(FUZZ_OBJS) $(wildcard fuzz/*.hpp)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) $(FUZZ_SAN) $< $(FUZZ_OBJS) $(FUZZ_LIBS) -o $@

# The core under clang is compiled one file per core, as ninja does.
fuzz-build: deps-fuzz
	@$(MAKE) --no-print-directory -j$(NPROC) $(addprefix $(FUZZ)/,$(FUZZ_TARGETS))

fuzz-seeds: deps-fuzz
	@$(MAKE) --no-print-directory $(FUZZ)/make_seeds $(FUZZ)/make_message_seeds
	$(FUZZ)/make_seeds
	$(FUZZ)/make_message_seeds fuzz/corpus

fuzz-regress: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  dirs=""; for d in fuzz/corpus/$$t fuzz/regressions/$$t; do [ -d $$d ] && dirs="$$dirs $$d"; done; \
	  [ -n "$$dirs" ] || continue; \
	  echo "== $$t:$$dirs"; \
	  $(FUZZ)/$$t $(FUZZ_RUN_FLAGS) -runs=0 $$dirs 2>&1 | grep -E '^(INFO: seed corpus|#[0-9]+.*DONE|==[0-9]+==|SUMMARY)' ; \
	  [ $${PIPESTATUS[0]} -eq 0 ] || exit 1; \
	done

# Targets run FUZZ_JOBS at a time (one per core); each one's log is kept in
# $(FUZZ)/logs and the executions it ran are printed at the end.
FUZZ_JOBS ?= $(NPROC)
fuzz: fuzz-build
	@mkdir -p $(FUZZ)/logs
	@printf '%s\n' $(FUZZ_TARGETS) | xargs -P $(FUZZ_JOBS) -I{} sh -c '\
	  t={}; mkdir -p $(FUZZ)/corpus/$$t $(FUZZ)/artifacts/$$t; \
	  echo "== $$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ)/$$t $(FUZZ_RUN_FLAGS) -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ)/artifacts/$$t/ $(FUZZ)/corpus/$$t $$( [ -d fuzz/corpus/$$t ] && echo fuzz/corpus/$$t ) \
	    > $(FUZZ)/logs/$$t.log 2>&1 || { echo "!! $$t failed: $(FUZZ)/logs/$$t.log"; tail -40 $(FUZZ)/logs/$$t.log; exit 255; }'
	@for t in $(FUZZ_TARGETS); do \
	  printf '%-28s %12s executions\n' $$t "$$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ)/logs/$$t.log)"; \
	done

fuzz-long: build
	PYTHONPATH=$(CURDIR) $(PY) tools/run_corpus.py
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(FUZZ_LONG_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) sample vorlak/_vorlak*.so vorlak/_fields*.so
