#!/usr/bin/env bash
# Installs what is missing, builds every preset, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
# The Windows builds first: the host test run also runs them under Wine.
for preset in windows-x64 windows-x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# Other programs on a developer's machine may bind UDP 514 too; CI has none.
flock /tmp/port514.lock cmake --workflow --preset host
# Sanitizers, fuzzing and the soak.
bash tools/hardening.sh
