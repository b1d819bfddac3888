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

.PHONY: all deps build build-asan test test-cpp test-asan test-python check-core run bench fuzz fuzz-long clean

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

test: deps check-core test-cpp test-asan test-python

$(SAMPLE): build tools/make_sample.py
	@mkdir -p sample
	PYTHONPATH=$(CURDIR) $(PY) tools/make_sample.py $(SAMPLE)

run: build $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak ls $(SAMPLE)
	PYTHONPATH=$(CURDIR) $(PY) -m vorlak stats $(SAMPLE)

bench: build
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b; done
	@for p in bench/*.py; do echo "== $$p"; PYTHONPATH=$(CURDIR) $(PY) $$p || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ) sample vorlak/_vorlak*.so
