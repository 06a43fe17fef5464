# figure: device chart against QCustomPlot, with and without the track cursor, and the QPainter floor
b="$QK_BUILD/bench/chart/bench_chart"
if qk_need "chart" "$b"; then
    QT_QPA_PLATFORM=offscreen qk_run "$b" --runs "$QK_RUNS" --charts 200
fi
