# Thin wrapper over CMake. `make demo` builds in Release and runs the program;
# `make test` builds and runs the whole test suite; `make python` puts the
# shared library next to the Python package (python/ringtrap).
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
BENCH_BUILD_DIR ?= build-bench
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=
# CI exports RINGTRAP_WERROR=ON: warnings become errors in its builds only.
ifneq ($(filter ON on 1 true,$(RINGTRAP_WERROR)),)
CMAKE_ARGS += -DRINGTRAP_WERROR=ON
endif

.PHONY: demo test bench ct python clean

demo:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DRINGTRAP_BUILD_TESTS=OFF -DRINGTRAP_BUILD_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) --target ringtrap_app -j $(JOBS) >/dev/null
	@./$(BUILD_DIR)/ringtrap

# The Release shared library, copied (not linked, so that it outlives the
# build folder) to python/ringtrap/libringtrap.so.
python:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DRINGTRAP_BUILD_TESTS=OFF -DRINGTRAP_BUILD_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD_DIR) --target ringtrap_shared -j $(JOBS) >/dev/null
	cmake -E copy $(BUILD_DIR)/libringtrap.so python/ringtrap/libringtrap.so
	@echo "python/ringtrap is ready: PYTHONPATH=python python3 -c 'import ringtrap'"

test:
	cmake -S . -B $(TEST_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B $(BENCH_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DRINGTRAP_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BENCH_BUILD_DIR) --target ringtrap_bench -j $(JOBS)
	./$(BENCH_BUILD_DIR)/ringtrap_bench

# Every build lives in a build* folder: these three and those of CI
# (build-asan, build-tsan, build-load, build-fuzz).
# Constant-time check of the key-independent levels: a Release build run under
# valgrind's memcheck with the secrets marked (tests/ct/run_ct.sh).
ct:
	cmake -S . -B build-ct -DCMAKE_BUILD_TYPE=Release -DRINGTRAP_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build build-ct --target ringtrap_ct_api ringtrap_ct_ki ringtrap_ct_samplers -j $(JOBS)
	bash tests/ct/run_ct.sh build-ct

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR) $(BENCH_BUILD_DIR) build build-*
	rm -f python/ringtrap/libringtrap.so
