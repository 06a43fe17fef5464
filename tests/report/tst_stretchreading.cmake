target_link_libraries(${QK_TEST} PRIVATE quillark_report)
