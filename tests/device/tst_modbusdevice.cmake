# Runs the simulator program, so it must be built first.
add_dependencies(${QK_TEST} quillark-gateway-sim)
