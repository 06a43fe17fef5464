target_link_libraries(${QK_TEST} PRIVATE quillark_report)
# The test runs the built program.
add_dependencies(${QK_TEST} DavavoZurer)
