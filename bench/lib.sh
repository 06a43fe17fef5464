# Shared helpers for the benchmark fragments (bench/<area>/run.sh), sourced by
# bench/run.sh before each fragment runs. See bench/README.md, "Adding a
# benchmark".
#
# Set by bench/run.sh:
#   QK_SRC    source tree           QK_BUILD  build tree
#   QK_RUNS   runs asked for        QK_DATA   shared generated data (/tmp/qk-bench)
#   QK_TABLE  file the table rows go to
#   QK_LOG    file every benchmark's full output goes to

# qk_row FIGURE ANCHOR UNIT VALUE...
# One table entry: VALUE... are the per-run figures (a ratio ours/anchor taken
# per run, or an absolute figure in UNIT); the table shows their median and
# spread (min-max) and how many runs there were.
qk_row() {
    local figure=$1 anchor=$2 unit=$3
    shift 3
    printf 'ROW\t%s\t%s\t%s\t%s\n' "$figure" "$anchor" "$unit" "$*" >>"$QK_TABLE"
}

# qk_skip FIGURE REASON: the figure could not be measured here.
qk_skip() {
    printf 'SKIP\t%s\t%s\n' "$1" "$2" >>"$QK_TABLE"
}

# qk_need FIGURE PROGRAM...: true when every program exists and is executable;
# otherwise records a skip for FIGURE and returns false.
qk_need() {
    local figure=$1
    shift
    local p
    for p in "$@"; do
        if [ ! -x "$p" ] && ! command -v "$p" >/dev/null 2>&1; then
            qk_skip "$figure" "$(basename "$p") not built or not installed"
            return 1
        fi
    done
    return 0
}

# qk_run COMMAND...: runs a benchmark program, appends its output to the log,
# and copies every line it prints in the form
#   QKROW<TAB>figure<TAB>anchor<TAB>unit<TAB>v1 v2 ...
# into the table. Returns the program's exit status.
qk_run() {
    local out status
    out=$(mktemp)
    echo "\$ $*" >>"$QK_LOG"
    "$@" >"$out" 2>&1
    status=$?
    cat "$out" >>"$QK_LOG"
    if grep -qP '^QKROW\t' "$out"; then
        grep -P '^QKROW\t' "$out" | sed 's/^QKROW/ROW/' >>"$QK_TABLE"
    else
        qk_skip "$(basename "$1")" "printed no QKROW line (output in the log)"
    fi
    if [ $status -ne 0 ]; then
        qk_skip "$(basename "$1")" "exit status $status (output in the log)"
    fi
    rm -f "$out"
    return $status
}

# qk_now_ns: monotonic clock in nanoseconds (the clock QElapsedTimer uses).
qk_now_ns() {
    python3 -c 'import time; print(time.monotonic_ns())'
}
