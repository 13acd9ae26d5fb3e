#!/usr/bin/env bash
# Runs a .nms script: installs what running needs, builds the program and its
# modules when needed, then runs build/tarv with the given arguments.
# Usage: scripts/tarv.sh MODE SCRIPT
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" run
# A tree the test command configured keeps its options; a new one leaves the
# tests out, so that their packages are not needed.
options=()
[ -f "$root/build/CMakeCache.txt" ] || options=(-DTARV_TESTS=OFF)
TARV_TARGET=tarv "$root/scripts/build.sh" "$root/build" "${options[@]}" >&2
exec "$root/build/tarv" "$@"
