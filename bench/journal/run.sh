# figure: journal check of a 59-day recording against sha256sum of the same file
b="$QK_BUILD/bench/journal/bench_journal"
if qk_need "journal check" "$b" sha256sum; then
    qk_run "$b" --days 59 --runs "$QK_RUNS"
fi
