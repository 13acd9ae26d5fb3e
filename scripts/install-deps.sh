#!/usr/bin/env bash
# Installs the Debian packages tarv needs to build, run and test: those of
# scripts/packages.txt and of every packages.txt beside a family, a layer or
# its tests.  Idempotent: nothing is fetched when every package is there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

mapfile -t packages < <(cat "$root/scripts/packages.txt" \
  $(find "$root/services" "$root/platform" "$root/window" "$root/tests" -name packages.txt 2>/dev/null) \
  | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y "${missing[@]}"
fi
