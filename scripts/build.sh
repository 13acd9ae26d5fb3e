#!/usr/bin/env bash
# Configures and builds one build tree.  Usage: build.sh DIR [cmake options...]
# TARV_TARGET in the environment builds that target alone (and what it needs).
# A sanitizer or fuzzing tree is built with clang (its UBSan catches what
# gcc's misses); CXX in the environment overrides the choice.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
compiler="${CXX:-}"
if [ -z "$compiler" ]; then
  case " $* " in
    *" -DTARV_SANITIZE=ON "*|*" -DTARV_FUZZ=ON "*) compiler="clang++-14" ;;
    *) compiler="g++" ;;
  esac
fi
compiler="$(command -v "$compiler")"
# A tree configured with another compiler is configured afresh.
cache="$dir/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$compiler" "$cache"; then
  rm -rf "$cache" "$dir/CMakeFiles"
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$compiler" "$@" >/dev/null
cmake --build "$dir" -j"${TARV_JOBS:-$(nproc)}" ${TARV_TARGET:+--target "$TARV_TARGET"}
