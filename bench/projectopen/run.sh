# figure: project open on 59 days: the real program from start to the project centre painted, and the window code in-process
days=${QK_PROJECTOPEN_DAYS:-59}
b="$QK_BUILD/bench/projectopen/bench_projectopen"
if qk_need "project open" "$b" "$QK_BUILD/quillark-lite-modbus" \
    "$QK_BUILD/bench/projectopen/qk-bench-recent" "$QK_BUILD/bench/projectopen/qk-bench-window" Xvfb; then
    # Makes (or reuses) the generated file and its private copy, then times
    # the window code in this process against the old full scan.
    qk_run "$b" --days "$days" --runs "$QK_RUNS"
    db="$QK_DATA/projectopen/days-$days.dat"
    if [ -f "$db" ]; then
        qk_run python3 "$QK_SRC/bench/recorder.py" firstpaint --build "$QK_BUILD" --db "$db" \
            --runs "$QK_RUNS"
    fi
fi
