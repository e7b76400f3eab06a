#!/usr/bin/env bash
# The robustness runs: the whole test suite under ASan+UBSan, the threaded tests
# under TSan, each fuzz target for FUZZ_SECONDS (60), and the soak.
# Usage: bash tools/hardening.sh [asan] [tsan] [fuzz] [soak]   (default: all four)
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
steps=("$@")
[ ${#steps[@]} -gt 0 ] || steps=(asan tsan fuzz soak)
fuzz_seconds="${FUZZ_SECONDS:-60}"
# Other programs on this machine may bind UDP 514 too; CI has none.
port514() { flock /tmp/port514.lock "$@"; }
started=$SECONDS
lap() { echo "== $1 took $((SECONDS - lap_start)) s"; }

for step in "${steps[@]}"; do
  lap_start=$SECONDS
  case "$step" in
  asan)
    cmake --preset host-asan >/dev/null
    cmake --build --preset host-asan
    port514 ctest --preset host-asan
    ;;
  tsan)
    cmake --preset host-tsan >/dev/null
    cmake --build --preset host-tsan
    port514 ctest --preset host-tsan
    ;;
  fuzz)
    cmake --preset host-fuzz >/dev/null
    cmake --build --preset host-fuzz --target fuzz_message fuzz_registrar
    work="$(mktemp -d)"
    failed=0
    # Both at once, one per core; the seeds are read, never written.
    for target in message registrar; do
      mkdir -p "$work/$target/corpus" "$work/$target/crashes"
      build/host-fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -max_len=2048 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/$target/crashes/" \
        "$work/$target/corpus" "fuzz/corpus/$target" >"$work/$target/log" 2>&1 &
    done
    for target in message registrar; do
      wait -n || true
    done
    for target in message registrar; do
      if [ -n "$(ls -A "$work/$target/crashes")" ]; then
        failed=1
        tail -n 60 "$work/$target/log"
        mkdir -p build/fuzz-findings/$target
        cp "$work/$target/crashes/"* build/fuzz-findings/$target/
        echo "fuzz_$target found inputs that fail; kept in build/fuzz-findings/$target"
      elif ! grep -q '^Done' "$work/$target/log"; then
        failed=1
        tail -n 60 "$work/$target/log"
        echo "fuzz_$target did not finish its run"
      else
        grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec)' "$work/$target/log" |
          sed "s/^/fuzz_$target: /"
      fi
    done
    rm -rf "$work"
    [ "$failed" -eq 0 ]
    ;;
  soak)
    cmake --preset host >/dev/null
    cmake --build --preset host --target soak_tests
    port514 ctest --preset host-soak
    ;;
  *)
    echo "unknown step: $step (asan, tsan, fuzz or soak)" >&2
    exit 2
    ;;
  esac
  lap "$step"
done
echo "== hardening took $((SECONDS - started)) s"
