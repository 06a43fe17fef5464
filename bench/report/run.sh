# figure: daily report on a generated recording
b="$QK_BUILD/bench/report/bench_report"
if qk_need "report" "$b"; then
    QT_QPA_PLATFORM=offscreen qk_run "$b"
fi
