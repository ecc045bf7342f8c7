# Thin layer over the CMake presets. `make run` and `make test` are the two
# commands of the README; both install what is missing first.
PRESET ?= default
JOBS ?= $(shell nproc)
# CI builds through ccache: the legs that compile the same files the same
# way (the core in the default and core-only builds) then compile them once.
CI_LAUNCHER = $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache,)
CMAKE_FLAGS ?= $(if $(CI),-DSLICEWRIGHT_WERROR=ON $(CI_LAUNCHER),)

.PHONY: deps configure build run test asan-test core-only-test fuzz fuzz-smoke bench audit format format-check clean package \
	check-layers ci ci-gcc-release ci-gcc-debug ci-clang-debug ci-clang-release

deps:
	bash scripts/install-deps

configure:
	cmake --preset $(PRESET) $(CMAKE_FLAGS)

build: deps configure
	cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	./build/$(PRESET)/src/desktop/slicewright

test: build
	ctest --preset $(PRESET) -j $(JOBS)

asan-test:
	$(MAKE) test PRESET=asan

# The legs of CI's matrix, one at a time: GCC and Clang, Debug and Release.
# GCC's Release leg is the README's tests (optimised, with debug info), its
# Debug leg the one under the sanitizers. Under CI=true warnings are errors.
ci-gcc-release: test

ci-gcc-debug: asan-test

ci-clang-debug:
	$(MAKE) test PRESET=clang-debug

ci-clang-release:
	$(MAKE) test PRESET=clang-release

# The whole CI run, as a fresh machine runs it.
ci:
	bash .ci/run

# The level table of src/README.md, include pairs and desktop files over 700 lines.
check-layers:
	python3 scripts/check-layers

# The core and the command line on their own: proves the core needs no Qt.
core-only-test:
	$(MAKE) test PRESET=core-only

fuzz: deps
	cmake --preset fuzz $(CMAKE_FLAGS)
	cmake --build --preset fuzz -j $(JOBS)

# A short libFuzzer run of every target, seeded with the saved inputs.
fuzz-smoke: fuzz
	@for f in build/fuzz/fuzz/*_fuzz; do \
	  name=$$(basename $$f _fuzz); \
	  echo "== $$name"; \
	  $$f -max_total_time=$${FUZZ_SECONDS:-20} -rss_limit_mb=2048 -timeout=10 fuzz/seeds/$$name || exit 1; \
	done

# A Debian package of the release build in its own folder, compiled and
# linked with Debian's hardening flags; CPack strips the programs.
PACKAGE_DIR ?= build/package
BUILDFLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
package: deps
	cmake --preset release -B $(PACKAGE_DIR) $(CMAKE_FLAGS) -DSLICEWRIGHT_TESTS=OFF -DSLICEWRIGHT_BENCH=OFF \
	  -DCMAKE_C_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(BUILDFLAGS) CPPFLAGS) $$($(BUILDFLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(BUILDFLAGS) LDFLAGS)"
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB

bench: build
	@for b in build/$(PRESET)/benchmarks/*_bench; do $$b; done
	@echo "== the reduction with AVX2 kernels only"
	SLICEWRIGHT_VECTOR_LIMIT=avx2 build/$(PRESET)/benchmarks/gif_reduce_bench
	bash scripts/format-sizes build/$(PRESET)/src/cli/slicewright-cli

# Lighthouse on the html5 and grid pages of every design, and their weight
# beside png and webp pages (the README's table of scores).
audit: build
	bash scripts/audit-pages --cli build/$(PRESET)/src/cli/slicewright-cli

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
