target_link_libraries(${QK_TEST} PRIVATE SQLite::SQLite3)
