# Runs the built program under Xvfb.
add_dependencies(${QK_TEST} quillark-lite-modbus)
