# Everything a fresh Debian 12 machine needs to build, test and run vorlak.
PY      := /usr/bin/python3
BUILD   := build
ASAN    := build-asan
FUZZ    := build-fuzz
SAMPLE  := sample/sample.grib
DEB_PKGS := meson ninja-build g++ clang python3-dev python3-numpy python3-pytest \
            python3-mesonpy python3-venv libopenjp2-7-dev libaec-dev libgtest-dev \
            clang-16 libclang-rt-16-dev libc++-16-dev libc++abi-16-dev python3-xarray python3-dask python3-distributed

export PYTHONDONTWRITEBYTECODE := 1

.DELETE_ON_ERROR:
.PHONY: all deps build build-asan test test-cpp test-asan test-python check-core run bench fuzz fuzz-build fuzz-regress fuzz-seeds fuzz-long clean

all: build

# Installs only what is missing; a no-op (one dpkg query) when all is there.
deps:
	@missing=$$(for p in $(DEB_PKGS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	fi

$(BUILD)/build.ninja:
	meson setup $(BUILD) -Dtests=true -Dbenchmarks=true

# Re-running setup picks up added source files (the build lists folders).
build: deps $(BUILD)/build.ninja
	@meson setup --reconfigure $(BUILD) >/dev/null
	ninja -C $(BUILD)
	@so=$$(cd $(BUILD) && ls _vorlak*.so 2>/dev/null); if [ -n "$$so" ]; then ln -sf ../$(BUILD)/$$so vorlak/$$so; fi

$(ASAN)/build.ninja:
	meson setup $(ASAN) -Dtests=true -Dbuildtype=debug -Doptimization=1 \
	  -Db_sanitize=address,undefined -Db_lundef=false

build-asan: deps $(ASAN)/build.ninja
	@meson setup --reconfigure $(ASAN) >/dev/null
	ninja -C $(ASAN) vorlak_tests

check-core:
	$(PY) tools/check_core_headers.py

test-cpp: build
	$(BUILD)/vorlak_tests --gtest_brief=1

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(ASAN)/vorlak_tests --gtest_brief=1

test-python: build
	PYTHONPATH=$(CURDIR) $(PY) -m pytest -q -p no:cacheprovider tests/python

test: deps check-core test-cpp test-asan fuzz-regress test-python

$(SAMPLE): build tools/make_sample.py
	@mkdir -p sample
	PYTHONPATH=$(CURDIR) $(PY) tools/make_sample.py $(SAMPLE)

run: build $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak ls $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak stats $(SAMPLE)

bench: build
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b; done
	@for p in bench/*.py; do echo "== $$p"; PYTHONPATH=$(CURDIR) $(PY) $$p || exit 1; done

# Decoder fuzz targets (libFuzzer): fuzz/<name>_fuzz.cpp, linked with the
# src/grib sources (all the decoders need) built for coverage under ASan and UBSan. libc++ because
# clang has no std::expected with the GCC 12 library; libFuzzer's own runtime
# is built against libstdc++, hence libstdc++ by name at the link (clang
# would turn -lstdc++ into libc++).
FUZZ_CXX      ?= clang++-16
FUZZ_SECONDS  ?= 20
FUZZ_CXXFLAGS := -std=c++2b -stdlib=libc++ -O1 -g -fno-omit-frame-pointer -Wall -Wextra \
                 -fsanitize=address,undefined -fno-sanitize-recover=undefined \
                 -Isrc -Itests/cpp $(shell pkg-config --cflags libopenjp2 2>/dev/null)
FUZZ_LIBS     := $(shell pkg-config --libs libopenjp2 2>/dev/null) -laec
FUZZ_TARGETS  := $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
FUZZ_CORE     := $(shell $(PY) tools/list_sources.py src/grib)
FUZZ_OBJECTS  := $(patsubst %.cpp,$(FUZZ)/obj/%.o,$(FUZZ_CORE))

$(FUZZ)/obj/%.o: %.cpp
	@mkdir -p $(dir $@)
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) -fsanitize=fuzzer-no-link -MMD -MP -c $< -o $@

-include $(FUZZ_OBJECTS:.o=.d)

# An archive, so that each target takes only the objects it needs.
$(FUZZ)/libgrib.a: $(FUZZ_OBJECTS)
	rm -f $@ && ar rcs $@ $^

$(FUZZ)/%_fuzz: fuzz/%_fuzz.cpp fuzz/fuzz_input.hpp $(FUZZ)/libgrib.a
	$(FUZZ_CXX) $(FUZZ_CXXFLAGS) -fsanitize=fuzzer -I. $< $(FUZZ)/libgrib.a $(FUZZ_LIBS) -l:libstdc++.so.6 -o $@

fuzz-build: deps $(addprefix $(FUZZ)/,$(FUZZ_TARGETS))

# Each target for FUZZ_SECONDS, growing its corpus in build-fuzz/corpus-<target>
# from the seeds; crashes land in build-fuzz/ (keep fixed ones in fuzz/regressions/<target>/).
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/corpus-$$t fuzz/corpus/$$t; \
	  echo "== $$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ)/$$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 -artifact_prefix=$(FUZZ)/$$t- \
	    $(FUZZ)/corpus-$$t fuzz/corpus/$$t || exit 1; \
	done

# Every seed and kept regression input, once each.
fuzz-regress: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  inputs=$$(find fuzz/corpus/$$t fuzz/regressions/$$t -type f 2>/dev/null | sort); \
	  [ -n "$$inputs" ] || continue; \
	  $(FUZZ)/$$t -rss_limit_mb=4096 $$inputs >$(FUZZ)/$$t.log 2>&1 || { cat $(FUZZ)/$$t.log; exit 1; }; \
	  echo "$$t: $$(echo $$inputs | wc -w) inputs"; \
	done

# Rewrites the seed corpora from the test-side encoders.
fuzz-seeds:
	@mkdir -p $(FUZZ)
	$(CXX) -std=c++23 -O1 -Isrc -Itests/cpp $(shell pkg-config --cflags libopenjp2) fuzz/make_seeds.cpp \
	  $(FUZZ_LIBS) -o $(FUZZ)/make_seeds
	$(FUZZ)/make_seeds

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) sample vorlak/_vorlak*.so
