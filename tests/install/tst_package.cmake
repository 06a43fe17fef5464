# The same build needs as the installation test.
include(${CMAKE_CURRENT_LIST_DIR}/tst_install.cmake)
