#!/usr/bin/env bash
# Builds the project file fuzzer with clang, libFuzzer and AddressSanitizer in
# its own build tree and runs it for a bounded time.
#
#   tools/fuzz_projectfile/run.sh [seconds]     (default 60)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${QK_FUZZ_BUILD_DIR:-$here/build-fuzz}"
seconds="${1:-60}"

cmake -S "$here" -B "$build" -DQK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address -fsanitize=fuzzer-no-link -fno-omit-frame-pointer" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address" >/dev/null
cmake --build "$build" --target fuzz_projectfile -j"$(nproc)"

corpus="$build/fuzz-corpus/projectfile"
mkdir -p "$corpus"
"$build/tools/fuzz_projectfile/fuzz_projectfile" --make-seeds "$corpus"
# Qt keeps a few process-wide caches alive until exit; they are not leaks.
export ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}"
"$build/tools/fuzz_projectfile/fuzz_projectfile" "$corpus" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1
