# Builds the Debian package of this build tree with cpack and checks what it
# installs; needs every installed program and the compressed man pages built
# first. cpack and lintian take their time.
target_compile_definitions(${QK_TEST} PRIVATE
  QK_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
  QK_HAS_VIEWER=$<TARGET_EXISTS:RideZodazo>
  QK_HAS_REPORT=$<TARGET_EXISTS:DavavoZurer>)
set_tests_properties(install/${QK_TEST} PROPERTIES TIMEOUT 420)
add_dependencies(${QK_TEST} quillark-lite-modbus quillark-gateway-sim quillark_packaging)
foreach(program RideZodazo DavavoZurer)
  if(TARGET ${program})
    add_dependencies(${QK_TEST} ${program})
  endif()
endforeach()
