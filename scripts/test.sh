#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# a plain build (gcc), and one under AddressSanitizer + UndefinedBehaviorSanitizer
# (clang); then runs each fuzz target briefly.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"

# The engine depends on no family and on no window.
if grep -rEn '#include "(services|window)/' "$root/engine"; then
  echo "test.sh: engine/ includes a family or the window" >&2
  exit 1
fi

jobs="$(nproc)"
run_suite() {
  local dir="$1"; shift
  "$root/scripts/build.sh" "$dir" "$@"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

# Warnings fail the build; the benchmarks are built (not run) so they keep
# compiling.
run_suite "$root/build" -DTARV_SANITIZE=OFF -DTARV_WERROR=ON -DTARV_BENCH=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DTARV_SANITIZE=ON -DTARV_WERROR=ON
# Each fuzz target for a short, bounded time.
"$root/scripts/fuzz.sh" "$root/build-fuzz" "${TARV_FUZZ_SECONDS:-20}"
