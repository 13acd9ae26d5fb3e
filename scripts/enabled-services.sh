#!/usr/bin/env bash
# Prints the system services this machine starts at boot, one "KIND NAME" a
# line, sorted: "systemd UNIT" for each unit a target of /etc/systemd/system
# wants or requires, "sysv NAME" for each init script an rc2-5.d start link
# runs.  install-deps.sh and test.sh compare two of these lists.
set -euo pipefail
{
  for link in /etc/systemd/system/*.wants/* /etc/systemd/system/*.requires/*; do
    if [ -L "$link" ]; then echo "systemd $(basename "$link")"; fi
  done
  for link in /etc/rc[2345].d/S*; do
    if [ -L "$link" ]; then echo "sysv $(basename "$link" | sed 's/^S[0-9]*//')"; fi
  done
} 2>/dev/null | LC_ALL=C sort -u
