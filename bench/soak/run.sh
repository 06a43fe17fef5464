# figure: the recorder's memory with the demo project (16 devices, two gateway simulators) on Xvfb and offscreen
minutes=${QK_MEMORY_MINUTES:-2}
if qk_need "recorder memory" "$QK_BUILD/quillark-lite-modbus" \
    "$QK_BUILD/tools/gateway_sim/quillark-gateway-sim" "$QK_BUILD/bench/projectopen/qk-bench-recent" \
    "$QK_BUILD/bench/projectopen/qk-bench-window" Xvfb; then
    qk_run python3 "$QK_SRC/bench/recorder.py" memory --build "$QK_BUILD" --minutes "$minutes"
    qk_run python3 "$QK_SRC/bench/recorder.py" memory --build "$QK_BUILD" --minutes "$minutes" \
        --display offscreen
    qk_run python3 "$QK_SRC/bench/recorder.py" memory --build "$QK_BUILD" --minutes "$minutes" --gl
fi
