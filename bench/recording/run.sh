# figure: recording through the recorder's write path against the same statement through SQLite's C API
b="$QK_BUILD/bench/recording/bench_recording"
if qk_need "recording" "$b"; then
    qk_run "$b" 5000 "$QK_RUNS"
fi
