# Installs this build tree into a temporary DESTDIR (tst_package: builds the
# Debian package with cpack); needs every installed program and the
# compressed man pages built first.
target_compile_definitions(${QK_TEST} PRIVATE
  QK_CMAKE_COMMAND="${CMAKE_COMMAND}"
  QK_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
  QK_HAS_VIEWER=$<TARGET_EXISTS:RideZodazo>
  QK_HAS_REPORT=$<TARGET_EXISTS:DavavoZurer>)
add_dependencies(${QK_TEST} quillark-lite-modbus quillark-gateway-sim quillark_packaging)
foreach(program RideZodazo DavavoZurer)
  if(TARGET ${program})
    add_dependencies(${QK_TEST} ${program})
  endif()
endforeach()
