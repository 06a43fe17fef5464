# figure: data viewer on generated recordings (first picture, redraw, summary, CSV export)
b="$QK_BUILD/bench/viewer/bench_viewer"
if qk_need "viewer" "$b"; then
    QT_QPA_PLATFORM=offscreen qk_run "$b" 30
fi
