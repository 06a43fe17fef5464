# The alarm sound goes to a silent media back end built for the tests.
if(NOT TARGET quillark_silentplayer)
  add_library(quillark_silentplayer MODULE
    ${CMAKE_SOURCE_DIR}/tests/support/silentplayer/silentplayer.cpp)
  target_link_libraries(quillark_silentplayer PRIVATE Qt5::Multimedia)
  set_target_properties(quillark_silentplayer PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test-plugins/mediaservice)
endif()
add_dependencies(${QK_TEST} quillark_silentplayer)
target_compile_definitions(${QK_TEST} PRIVATE QK_TEST_PLUGINS="${CMAKE_BINARY_DIR}/test-plugins")
