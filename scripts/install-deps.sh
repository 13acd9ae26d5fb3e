#!/usr/bin/env bash
# Installs the Debian packages tarv needs.  Usage: install-deps.sh MODE [--list]
#   run   building and running tarv: scripts/packages.txt and every
#         packages.txt beside a family, a layer or the window.  None of these
#         holds a daemon.
#   test  that, and what the tests need: every packages.txt under tests/.
#         Some of those are servers (sshd, MariaDB, snmpd) that the tests
#         start themselves in the foreground, so they are installed without
#         starting a system service and without leaving one enabled.
# --list prints the packages of MODE instead of installing them.
# Idempotent: nothing is fetched when every package is there.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-}"
case "$mode" in
  run|test) ;;
  *) echo "usage: install-deps.sh run|test [--list]" >&2; exit 2 ;;
esac

lists=("$root/scripts/packages.txt")
mapfile -t -O 1 lists < <(find "$root/services" "$root/platform" "$root/window" -name packages.txt 2>/dev/null)
if [ "$mode" = test ]; then
  mapfile -t -O "${#lists[@]}" lists < <(find "$root/tests" -name packages.txt)
fi
mapfile -t packages < <(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | LC_ALL=C sort -u)

if [ "${2:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ "$mode" = run ]; then
  # Without the packages' recommendations: those bring the system bus daemon
  # onto a minimal machine, and tarv needs none of them.
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
  exit 0
fi

# A policy-rc.d that refuses keeps the packages' scripts from starting their
# services.  One the machine already has is left as it is.
policy=/usr/sbin/policy-rc.d
before="$(mktemp)"
placed=0
cleanup() {
  if [ "$placed" = 1 ]; then $SUDO rm -f "$policy"; fi
  rm -f "$before"
}
trap cleanup EXIT
"$root/scripts/enabled-services.sh" > "$before"
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# tarv install-deps.sh: no service starts while test peers install.\nexit 101\n' \
    | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  placed=1
fi

$SUDO apt-get update
$SUDO apt-get install -y "${missing[@]}"

# Packages enable their services whatever policy-rc.d says: disable each one
# that was not enabled before, so the machine boots as it did.
while read -r kind name; do
  echo "install-deps: disabling the system service $name" >&2
  case "$kind" in
    sysv) $SUDO update-rc.d "$name" disable >/dev/null 2>&1 || true ;;
    systemd) $SUDO systemctl disable --quiet "$name" >/dev/null 2>&1 || true ;;
  esac
done < <("$root/scripts/enabled-services.sh" | LC_ALL=C comm -13 "$before" -)

left="$("$root/scripts/enabled-services.sh" | LC_ALL=C comm -13 "$before" -)"
if [ -n "$left" ]; then
  echo "install-deps: these services stay enabled; disable them by hand:" >&2
  echo "$left" >&2
  exit 1
fi
