#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# a plain build (gcc), and one under AddressSanitizer + UndefinedBehaviorSanitizer
# (clang); then runs each fuzz target briefly.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# The test peers are servers: installing them must leave the machine's
# services as they were, and so must the run.
services_before="$(mktemp)"
trap 'rm -f "$services_before"' EXIT
"$root/scripts/enabled-services.sh" > "$services_before"
"$root/scripts/install-deps.sh" test

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
run_suite "$root/build" -DTARV_SANITIZE=OFF -DTARV_WERROR=ON -DTARV_BENCH=ON -DTARV_TESTS=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$root/build-asan" -DTARV_SANITIZE=ON -DTARV_WERROR=ON -DTARV_TESTS=ON
# Each fuzz target for a short, bounded time.
"$root/scripts/fuzz.sh" "$root/build-fuzz" "${TARV_FUZZ_SECONDS:-20}"

new_services="$("$root/scripts/enabled-services.sh" | LC_ALL=C comm -13 "$services_before" -)"
if [ -n "$new_services" ]; then
  echo "test.sh: the test command left new system services enabled:" >&2
  echo "$new_services" >&2
  exit 1
fi
