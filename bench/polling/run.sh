# figure: one Modbus read against the gateway simulator, ours and a bare QModbusTcpClient against libmodbus
b="$QK_BUILD/bench/polling/bench_polling_roundtrip"
if qk_need "polling" "$b"; then
    qk_run "$b" --reads $((QK_RUNS * 400)) --runs "$QK_RUNS"
fi
