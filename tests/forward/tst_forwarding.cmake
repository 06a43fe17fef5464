target_sources(${QK_TEST} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/forwardservers.cpp ${CMAKE_CURRENT_LIST_DIR}/forwardservers.h)
target_include_directories(${QK_TEST} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(${QK_TEST} PRIVATE quillark_forward)
