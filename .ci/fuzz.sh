#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under the address and
# undefined-behaviour sanitizers (build-fuzz/) and fuzzes each for a bounded
# time. FUZZ_SECONDS scales every run (default 60: the SCPI text and the
# replies get 42 s each, korvax-sim's network input and the RPC client 45 s
# each, the smaller parsers 25 s each; about 5 minutes in all). Fails on any crash, sanitizer report, leak, timeout or memory
# blow-up; the input that caused it is left in build-fuzz/ as
# <target>-crash-*, -leak-*, -timeout-* or -oom-*.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
sanitize='-fsanitize=address,undefined -fno-sanitize-recover=undefined'
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVAX_BUILD_FUZZ=ON -DKORVAX_BUILD_TESTS=ON -DKORVAX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize"

# target, seed corpus, share of FUZZ_SECONDS in percent
runs=(
  "korvax_fuzz_scpi scpi 70"
  "korvax_fuzz_replies replies 70"
  "korvax_fuzz_rsrc_names rsrc_names 42"
  "korvax_fuzz_resource_file resource_file 42"
  "korvax_fuzz_sim_requests sim_requests 42"
  "korvax_fuzz_sim_vxi11 sim_vxi11 75"
  "korvax_fuzz_sim_raw sim_raw 75"
  "korvax_fuzz_rpc_client rpc_client 75"
)
targets=()
for r in "${runs[@]}"; do targets+=("${r%% *}"); done
cmake --build "$build" --target "${targets[@]}" -j2

# libFuzzer adds what it finds to its corpus directory: work on copies so
# the seeds in the tree stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=${FUZZ_SECONDS:-60}
for r in "${runs[@]}"; do
  read -r target seeds share <<<"$r"
  mkdir -p "$work/$seeds"
  cp fuzz/corpus/"$seeds"/* "$work/$seeds"/
  time=$(( seconds * share / 100 ))
  [ "$time" -ge 1 ] || time=1
  echo "+ $target for ${time}s"
  start=$(date +%s)
  "$build/bin/$target" \
    -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/$target-" "$work/$seeds" 2>"$work/$target.log" \
    || { tail -n 60 "$work/$target.log"; exit 1; }
  grep -E '^stat::number_of_executed_units' "$work/$target.log" || true
  echo "  clean after $(( $(date +%s) - start ))s"
done
