#!/bin/bash
# Runs the benchmarks against their anchors and prints one table of medians
# and spreads, with the machine's load and core count beside it.
#
#   bench/run.sh [--build DIR] [--runs N] [--only a,b,...] [--list]
#
# Benchmarks are the folders of bench/ that hold a run.sh fragment; --only
# picks some by folder name (e.g. --only chart,polling). --runs is passed to
# every fragment as QK_RUNS (each decides what a run is: one interleaved pair
# of ours and its anchor). The full output of every program goes to
# $QK_DATA/bench-log.txt.
set -u
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
build="$src/build"
runs=5
only=""
list=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --only) only=",$2,"; shift 2 ;;
    --list) list=1; shift ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done

fragments=()
for f in "$here"/*/run.sh; do
    name=$(basename "$(dirname "$f")")
    if [ -n "$only" ] && [[ "$only" != *",$name,"* ]]; then
        continue
    fi
    fragments+=("$f")
done
if [ $list -eq 1 ]; then
    for f in "$here"/*/run.sh; do
        printf '%-12s %s\n' "$(basename "$(dirname "$f")")" "$(sed -n 's/^# figure: //p' "$f" | head -1)"
    done
    exit 0
fi

export QK_SRC="$src" QK_BUILD="$build" QK_RUNS="$runs"
export QK_DATA=${QK_DATA:-/tmp/qk-bench}
mkdir -p "$QK_DATA"
export QK_TABLE=$(mktemp)
export QK_LOG="$QK_DATA/bench-log.txt"
: >"$QK_LOG"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u +%FT%TZ)

for f in "${fragments[@]}"; do
    name=$(basename "$(dirname "$f")")
    echo "== $name" >&2
    echo "== $name" >>"$QK_LOG"
    (
        # shellcheck source=lib.sh
        . "$here/lib.sh"
        cd "$build" 2>/dev/null || true
        . "$f"
    )
done

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
python3 - "$QK_TABLE" <<EOF
import statistics, sys
rows = [l.rstrip('\n').split('\t') for l in open(sys.argv[1]) if l.strip()]
print("Benchmarks, $started, $(nproc) cores, load before $load_before, after $load_after")
print("rev $(git -C "$src" rev-parse --short HEAD 2>/dev/null), build $build, runs $runs, log $QK_LOG")
fmt = "{:<66} {:<32} {:>10} {:>17} {:>3}"
print(fmt.format("figure", "anchor", "median", "spread (min-max)", "n"))
for r in rows:
    if r[0] == "SKIP":
        print(fmt.format(r[1][:66], "skipped: " + r[2], "", "", ""))
        continue
    figure, anchor, unit = r[1], r[2], r[3]
    values = [float(v) for v in r[4].split()] if len(r) > 4 and r[4].strip() else []
    if not values:
        print(fmt.format(figure[:66], anchor[:32], "-", "no runs", 0))
        continue
    m = statistics.median(values)
    u = "" if unit in ("x", "") else " " + unit
    d = 3 if max(abs(v) for v in values) < 10 else 1
    spread = "{:.{d}f}-{:.{d}f}".format(min(values), max(values), d=d)
    print(fmt.format(figure[:66], anchor[:32], "{:.{d}f}{}".format(m, u, d=d), spread, len(values)))
EOF
rm -f "$QK_TABLE"
