# Thin layer over the CMake presets. `make run` and `make test` are the two
# commands of the README; both install what is missing first.
PRESET ?= default
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= $(if $(CI),-DSLICEWRIGHT_WERROR=ON,)

.PHONY: deps configure build run test asan-test core-only-test fuzz fuzz-smoke bench audit format format-check clean package

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
