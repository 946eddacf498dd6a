#!/usr/bin/env bash
# fuzz/run.sh SECONDS [HARNESS...]: builds the libFuzzer harnesses with clang in
# build-fuzz/ and runs each (unless named: one per decoder, a folder of fuzz/corpus/
# each, then cli) for SECONDS, one after the other. Each starts from the stored seed corpus in
# fuzz/corpus/<harness>/ and from what earlier runs found (build-fuzz/corpus/<harness>/,
# where new inputs go). Prints per harness the executions per second, the coverage
# reached ("cov:" edges and "ft:" features) and any crash file; crashes, timeouts and
# out-of-memory inputs are saved under fuzz/crashes/. Exits 1 when a harness failed.
set -euo pipefail
TVQ_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$TVQ_ROOT"

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: fuzz/run.sh SECONDS [HARNESS...]" >&2
  exit 2
fi
seconds="$1"
shift
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for corpus in fuzz/corpus/*/; do
    corpus="$(basename "$corpus")"
    [ "$corpus" = cli ] || harnesses+=("$corpus")
  done
  harnesses+=(cli)
fi
for h in "${harnesses[@]}"; do
  if [ ! -d "fuzz/corpus/$h" ]; then
    echo "fuzz/run.sh: no harness '$h' (fuzz/corpus/$h is missing)" >&2
    exit 2
  fi
done

. scripts/setup.sh
tvq_install_packages
# libFuzzer and the sanitizer runtimes come with Debian's clang.
tvq_install_packages clang-14 libclang-rt-14-dev

# Absolute paths: the cli harness works in a temporary folder of its own.
build="$TVQ_ROOT/build-fuzz"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DTVQ_FUZZ=ON -DTVQ_BUILD_APP=OFF -DTVQ_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${harnesses[@]/#/fuzz_}"

crashes="$TVQ_ROOT/fuzz/crashes"
mkdir -p "$crashes" "$build/logs"
failed=0
summary=()
for h in "${harnesses[@]}"; do
  mkdir -p "$build/corpus/$h"
  log="$build/logs/$h.log"
  dict=()
  [ -f "fuzz/$h.dict" ] && dict=(-dict="$TVQ_ROOT/fuzz/$h.dict")
  echo "== $h: ${seconds} s (log: ${log#"$TVQ_ROOT"/})"
  status=0
  "$build/fuzz/fuzz_$h" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$crashes/$h-" "${dict[@]}" \
    "$build/corpus/$h" "$TVQ_ROOT/fuzz/corpus/$h" >"$log" 2>&1 || status=$?
  # The last status line: "#RUNS ... cov: N ft: N corp: N/SIZE ... exec/s: N ...".
  line="$(grep -E '^#[0-9]+' "$log" | grep 'cov:' | tail -n 1 || true)"
  field() { sed -nE "s/.*[ ]$1: ([0-9]+).*/\\1/p" <<<"$line"; }
  runs="$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)"
  speed="$(grep -E '^stat::average_exec_per_sec' "$log" | awk '{print $2}' || true)"
  crash="$(sed -nE 's/.*Test unit written to (.*)$/\1/p' "$log" | tail -n 1)"
  result="ok"
  if [ "$status" -ne 0 ]; then
    result="FAILED (status $status)${crash:+: $crash}"
    failed=1
  fi
  summary+=("$(printf '%-5s runs %-10s exec/s %-7s cov %-6s ft %-7s corpus %-6s %s' "$h" \
    "${runs:-?}" "${speed:-?}" "$(field cov)" "$(field ft)" "$(field corp | head -n 1)" "$result")")
  echo "${summary[-1]}"
done

echo
echo "== fuzz/run.sh $seconds: summary"
printf '%s\n' "${summary[@]}"
exit "$failed"
