# The test starts the real program.
add_dependencies(${QK_TEST} quillark-lite-modbus)
