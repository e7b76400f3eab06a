#!/usr/bin/env bash
# Builds the receiver and the baselines, runs the whole benchmark (host build,
# Windows build under Wine when Wine is installed, baseline; about 5 minutes;
# --quick: about 2; --no-wine: without Wine), and puts the table and the plot
# into bench/results/ and bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
if ! command -v gnuplot >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q gnuplot-nox
fi
cmake --preset host -B build/bench >/dev/null
cmake --build build/bench -j2 --target relay_bench
# The Windows build for the runs under Wine, if it is not there yet.
if [[ " $* " != *" --no-wine "* ]] && [ ! -f build/windows-x64/QuarnelSysLog.exe ] &&
  command -v x86_64-w64-mingw32-g++ >/dev/null && { command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ]; }; then
  cmake --preset windows-x64 >/dev/null
  cmake --build --preset windows-x64
fi
# Port 514 is privileged on Linux; others on this machine may bind it too.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo flock /tmp/port514.lock build/bench/bench/relay_bench --out bench/results "$@"

# The latest table goes into the README between its markers.
python3 - <<'PY'
import re
readme = open("bench/README.md").read()
table = open("bench/results/results.md").read()
begin, end = "<!-- results begin -->", "<!-- results end -->"
readme = re.sub(re.escape(begin) + ".*?" + re.escape(end), lambda m: begin + "\n" + table + end, readme, flags=re.S)
open("bench/README.md", "w").write(readme)
PY
echo "Table: bench/README.md, bench/results/results.md; plot: bench/results/throughput.png"
