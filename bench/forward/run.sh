# figure: forwarding a one-day backlog to InfluxDB against curl, to MQTT against a libmosquitto client; CPU while live
b="$QK_BUILD/bench/forward/bench_forward"
if qk_need "forward" "$b" influxd mosquitto mosquitto_sub curl; then
    QT_QPA_PLATFORM=offscreen qk_run "$b" --runs "$QK_RUNS"
fi
