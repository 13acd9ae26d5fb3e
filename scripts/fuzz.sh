#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer) and runs each for a short,
# bounded time on a corpus seeded from the tests' and examples' scripts and
# tests/fuzz/seeds.  Usage: scripts/fuzz.sh BUILD_DIR [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
dir="$(cd "$1" && pwd)"
seconds="${2:-20}"
"$root/scripts/build.sh" "$dir" -DTARV_FUZZ=ON -DTARV_WERROR=ON

scripts="$dir/fuzz-seeds/scripts"
mkdir -p "$scripts"
find "$root/tests" "$root/examples" -name '*.nms' -exec cp {} "$scripts/" \;

status=0
for target in "$dir"/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="$dir/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds=("$root/tests/fuzz/seeds/$name")
  case "$name" in fuzz_script|fuzz_text) seeds+=("$scripts") ;; esac
  echo "fuzz: $name for ${seconds}s"
  if ! (cd "$dir" && ASAN_OPTIONS=detect_leaks=0 "$target" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=4096 -max_len=8192 -artifact_prefix="$dir/$name-" \
        "$corpus" "${seeds[@]}" > "$dir/$name.log" 2>&1); then
    echo "fuzz: $name found a fault; see $dir/$name.log and the $name-* input it saved in $dir" >&2
    tail -40 "$dir/$name.log" >&2
    status=1
  fi
done
exit $status
