# figure: forwarding a backlog to InfluxDB against curl, and to MQTT against mosquitto_pub
b="$QK_BUILD/bench/forward/bench_forward"
if qk_need "forward" "$b" influxd mosquitto; then
    QT_QPA_PLATFORM=offscreen qk_run "$b" --runs "$QK_RUNS"
fi
