# Installation as a desktop program and the Debian package.
#
# cmake --install puts the programs in bin/ and, under share/: a desktop entry
# and an icon per program, the MIME type of project files (opened by the data
# viewer), the recorder's AppStream metadata, man pages, and the README, the
# demo project, the copyright and the changelog under share/doc/<package>/.
# `cpack -G DEB` in the build folder makes the package; its dependencies are
# worked out from the binaries by dpkg-shlibdeps.
#
# The data viewer and the daily report are optional targets: their files are
# installed only when they are part of the build.

include(GNUInstallDirs)

set(QK_PACKAGE_NAME quillark-lite-modbus)
set(QK_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(QK_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(QK_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QK_PACKAGE_NAME})
set(QK_ICON_DIR ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable)

# Program target, desktop id (also the icon name) of each installed program.
set(QK_INSTALLED_PROGRAMS quillark-lite-modbus quillark-gateway-sim)
set(QK_DESKTOP_IDS org.quillark.LiteModbus)
if(TARGET RideZodazo)
  list(APPEND QK_INSTALLED_PROGRAMS RideZodazo)
  list(APPEND QK_DESKTOP_IDS org.quillark.RideZodazo)
endif()
if(TARGET DavavoZurer)
  list(APPEND QK_INSTALLED_PROGRAMS DavavoZurer)
  list(APPEND QK_DESKTOP_IDS org.quillark.DavavoZurer)
endif()

install(TARGETS ${QK_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Installed programs resolve every symbol at start and keep their relocations
# read-only afterwards.
foreach(program ${QK_INSTALLED_PROGRAMS})
  target_link_options(${program} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

foreach(id ${QK_DESKTOP_IDS})
  install(FILES ${QK_PACKAGING_DIR}/${id}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${QK_PACKAGING_DIR}/icons/${id}.svg DESTINATION ${QK_ICON_DIR}/apps)
endforeach()

install(FILES ${QK_PACKAGING_DIR}/quillark-project.xml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mime/packages RENAME ${QK_PACKAGE_NAME}.xml)
install(FILES ${QK_PACKAGING_DIR}/icons/application-x-quillark-project.svg
  DESTINATION ${QK_ICON_DIR}/mimetypes)
install(FILES ${QK_PACKAGING_DIR}/org.quillark.LiteModbus.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${QK_PACKAGING_DIR}/copyright
  DESTINATION ${QK_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/demo.qlk DESTINATION ${QK_DOC_DIR}/examples)

# Man pages and the changelog are shipped compressed (gzip -9n: no name or
# time stamp inside, so the files are the same on every build).
find_program(QK_GZIP gzip REQUIRED)
set(QK_GZIPPED)
function(qk_gzip source dest)
  add_custom_command(OUTPUT ${dest}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QK_PACKAGING_OUT}
    COMMAND sh -c "\"${QK_GZIP}\" -9nc \"${source}\" > \"${dest}\""
    DEPENDS ${source} VERBATIM)
  set(QK_GZIPPED ${QK_GZIPPED} ${dest} PARENT_SCOPE)
endfunction()

qk_gzip(${QK_PACKAGING_DIR}/changelog ${QK_PACKAGING_OUT}/changelog.gz)
install(FILES ${QK_PACKAGING_OUT}/changelog.gz DESTINATION ${QK_DOC_DIR})
foreach(program ${QK_INSTALLED_PROGRAMS})
  qk_gzip(${QK_PACKAGING_DIR}/man/${program}.1 ${QK_PACKAGING_OUT}/${program}.1.gz)
  install(FILES ${QK_PACKAGING_OUT}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(quillark_packaging ALL DEPENDS ${QK_GZIPPED})

# Debian package. Installing (and so packaging) never starts a build: build
# first, then `cpack -G DEB`. Tests package the tree they were built with.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR Fennolink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Fennolink <support@fennolink.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt Multimedia loads its back end as a plugin at run time, where
# dpkg-shlibdeps cannot see it; it plays the alarm sound.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt5multimedia5-plugins, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "recorder for wireless sensors on Modbus TCP gateways
Quillark Lite Modbus records the wireless temperature and humidity sensors
of cold rooms, freezers, labs and warehouses that are reached through Modbus
TCP gateways. A project names up to 8 gateways and 16 devices with two
channels each; every gateway is polled once per data interval, live values
are shown on a dashboard and on per-device charts, an alarm sounds while a
channel is out of range, and every sample is written into the project's
SQLite database while recording.

The package also holds the data viewer RideZodazo, the daily report
DavavoZurer and a Modbus TCP gateway simulator for trying the recorder.")
include(CPack)
