#!/usr/bin/env bash
# The seal benchmark (BM_SealAgainstLookup) of the Qt 5 and the Qt 6 build in
# turns, in one run, so both meet the same machine and load:
#   bench/workflow/seal-qt5-qt6.sh [QT5_BUILD] [QT6_BUILD] [ROUNDS]
# (defaults: build, build-qt6, 3). Prints each round and the median per build.
set -euo pipefail
qt5=${1:-build}
qt6=${2:-build-qt6}
rounds=${3:-3}
command -v python3 >/dev/null || { echo "needs python3 to read the benchmark's JSON" >&2; exit 1; }
for b in "$qt5" "$qt6"; do
    [ -x "$b/bench/workflow/bench_workflow" ] || {
        echo "$b/bench/workflow/bench_workflow missing: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for r in $(seq "$rounds"); do
    for qt in 5 6; do
        b=$qt5
        [ "$qt" = 6 ] && b=$qt6
        # The benchmark's context lines go to standard error: shown only on failure.
        "$b/bench/workflow/bench_workflow" --benchmark_filter=BM_SealAgainstLookup \
            --benchmark_out="$work/qt$qt-$r.json" --benchmark_out_format=json \
            >/dev/null 2>"$work/qt$qt-$r.err" || { cat "$work/qt$qt-$r.err" >&2; exit 1; }
    done
done

python3 - "$work" "$rounds" <<'PY'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
print(f"{'build':<6} {'round':>5} {'seal ms':>9} {'lookup ms':>10} {'seal/lookup':>12}")
medians = {}
for qt in (5, 6):
    seals, lookups = [], []
    for r in range(1, rounds + 1):
        with open(f"{work}/qt{qt}-{r}.json") as f:
            run = json.load(f)["benchmarks"][0]
        if run.get("error_occurred"):
            sys.exit(f"Qt {qt} round {r}: {run.get('error_message')}")
        seal, lookup = run["seal_us"] / 1000, run["lookup_us"] / 1000
        seals.append(seal)
        lookups.append(lookup)
        print(f"Qt {qt:<3} {r:>5} {seal:>9.2f} {lookup:>10.2f} {seal / lookup:>12.1f}")
    medians[qt] = (statistics.median(seals), statistics.median(lookups))
for qt, (seal, lookup) in medians.items():
    print(f"Qt {qt} median: seal {seal:.2f} ms, lookup {lookup:.2f} ms, {seal / lookup:.1f}x")
print(f"Qt 6 seal / Qt 5 seal: {medians[6][0] / medians[5][0]:.2f}")
PY
