#!/usr/bin/env bash
# Runs a .nms script: installs what is missing, builds when needed, then runs
# build/tarv with the given arguments.  Usage: scripts/tarv.sh MODE SCRIPT
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" >&2
exec "$root/build/tarv" "$@"
