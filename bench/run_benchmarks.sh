#!/usr/bin/env bash
# Runs every benchmark program of a build, then prints their figures and ratios.
#
#   bench/run_benchmarks.sh [BENCHMARK_ARGS...]
#
# The programs are the executables named *Bench in <build>/bench, where <build> is $IE_BUILD_DIR
# (default: build/release under the project root; `./dev bench` builds it and sets it). Each
# runs with --benchmark_format=json into a temporary folder, and BENCHMARK_ARGS are passed to
# every program (e.g. --benchmark_filter=Restart). ie_bench_report then prints one table per
# program and the figures declared in bench/*.ratios.
#
# Exit status: non-zero when a program fails, a benchmark reports an error or a declared check
# fails (for example a restart that writes its output).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
readonly ROOT
readonly BUILD="${IE_BUILD_DIR:-$ROOT/build/release}"
readonly BENCH_DIR="$BUILD/bench"
readonly REPORT="$BENCH_DIR/ie_bench_report"

die() { printf 'run_benchmarks: %s\n' "$*" >&2; exit 1; }

[[ -x $REPORT ]] || die "$REPORT is missing: build the release preset first (./dev bench)"

programs=()
for f in "$BENCH_DIR"/*Bench; do
  [[ -f $f && -x $f ]] && programs+=("$f")
done
((${#programs[@]} > 0)) || die "no benchmark program (*Bench) in $BENCH_DIR"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

load="$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo unknown)"
printf '==> %d benchmark programs; %s cores, load average %s\n' \
  "${#programs[@]}" "$(nproc 2>/dev/null || echo '?')" "$load" >&2

status=0
results=()
for p in "${programs[@]}"; do
  name="$(basename "$p")"
  printf '==> %s\n' "$name" >&2
  start=$SECONDS
  if ! "$p" --benchmark_format=json "$@" >"$tmp/$name.json"; then
    printf 'run_benchmarks: %s failed\n' "$name" >&2
    status=1
  fi
  printf '    %ds\n' $((SECONDS - start)) >&2
  # A filter that matches nothing in a program leaves no result to report.
  [[ -s $tmp/$name.json ]] && results+=("$tmp/$name.json")
done

ratios=()
for r in "$ROOT"/bench/*.ratios; do
  [[ -f $r ]] && ratios+=(--ratios "$r")
done

if ((${#results[@]} > 0)); then
  "$REPORT" "${ratios[@]}" "${results[@]}" || status=1
fi
exit "$status"
