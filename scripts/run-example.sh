#!/usr/bin/env bash
# Runs the program; the unattended example analysis takes this place once it exists.
set -euo pipefail
build=${1:-build}
exec "$build/tarnel"
