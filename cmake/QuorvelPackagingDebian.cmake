# The Debian package: the service in /usr/sbin (it is a daemon, started by
# systemd, with its manual in section 8), the dialog and the box simulator in
# /usr/bin, the unit, the manuals, the menu entry and its icons. Everything
# lives below /usr except the unit, which Debian 12 still keeps in
# /lib/systemd/system.
set(package_prefix /usr)
set(doc_dir share/doc/${CPACK_PACKAGE_NAME})
set(unit_name Quorvel_to_PC_Clock_Service.service)

# The unit comes from the text `ventrel -load` writes, with the packaged
# program's path in ExecStart=.
add_executable(quorvel_unit_writer ${packaging_dir}/unit_writer.cc
  ${CMAKE_SOURCE_DIR}/service/systemd_unit.cc)
set(unit_file ${CMAKE_BINARY_DIR}/packaging/${unit_name})
add_custom_command(OUTPUT ${unit_file}
  COMMAND quorvel_unit_writer ${package_prefix}/sbin/ventrel ${unit_file}
  DEPENDS quorvel_unit_writer)

# Manuals are written once in scdoc and shipped compressed, as Debian does.
find_program(SCDOC scdoc REQUIRED)
find_program(GZIP gzip REQUIRED)
set(man_pages ventrel.8 moravel.1 boxsim.1)
set(packaged_files ${unit_file})
foreach(page ${man_pages})
  set(page_out ${CMAKE_BINARY_DIR}/packaging/man/${page})
  add_custom_command(OUTPUT ${page_out}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging/man
    COMMAND ${SCDOC} < ${packaging_dir}/man/${page}.scd > ${page_out}
    COMMAND ${GZIP} -9nf ${page_out}
    DEPENDS ${packaging_dir}/man/${page}.scd)
  list(APPEND packaged_files ${page_out}.gz)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${page_out}.gz DESTINATION share/man/man${section})
endforeach()

set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${GZIP} -9nc ${packaging_dir}/linux/changelog > ${changelog}
  DEPENDS ${packaging_dir}/linux/changelog)
list(APPEND packaged_files ${changelog})
add_custom_target(quorvel_package_files ALL DEPENDS ${packaged_files})

install(TARGETS ventrel DESTINATION sbin)
install(TARGETS boxsim DESTINATION bin)
if(TARGET moravel)
  install(TARGETS moravel DESTINATION bin)
endif()
install(FILES ${unit_file} DESTINATION /lib/systemd/system)
install(FILES ${packaging_dir}/linux/moravel.desktop DESTINATION share/applications)
foreach(size 16 32 48)
  install(FILES ${CMAKE_SOURCE_DIR}/setup/icons/moravel-${size}.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME moravel.png)
endforeach()
install(FILES ${packaging_dir}/linux/copyright ${changelog} DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${package_prefix})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary in front as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Ventrel is a systemd service that asks a Quorvel box, an external reader of
the house time code (NTSC or PAL) on a serial line, for its time code about
every 150 ms and sets the time of day of this machine's clock after six
misses in a row. Moravel is the small dialog that picks the serial port, the
time code standard and local or system time, tests the box while showing its
time code, and saves the settings for the service. boxsim plays a Quorvel box
on a pseudo-terminal for trying both without the hardware.
.
The service is installed but neither enabled nor started: set up and test
the box with Moravel first.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${packaging_dir}/linux/postinst ${packaging_dir}/linux/prerm
  ${packaging_dir}/linux/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
