# The Windows installer and zip: both programs and the README in
# Program Files\Quorvel, Moravel in the Start menu. The installer registers
# the service with the program's own `-load` and the uninstaller removes it
# with `-unload`, so the service is defined in one place only.
install(TARGETS ventrel moravel DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION .)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quorvel)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quorvel)
# A 64-bit installer for 64-bit programs: it sees the 64-bit registry and
# Program Files without redirection (and runs where only 64-bit Wine is).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_PACKAGE_NAME "Quorvel time code to PC clock")
set(CPACK_NSIS_DISPLAY_NAME "Quorvel time code to PC clock ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME Moravel.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/setup/icons/moravel.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/setup/icons/moravel.ico)
set(CPACK_NSIS_MODIFY_PATH OFF)
set(CPACK_NSIS_CREATE_ICONS_EXTRA
  "CreateShortCut '$SMPROGRAMS\\$STARTMENU_FOLDER\\Moravel.lnk' '$INSTDIR\\Moravel.exe'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\$MUI_TEMP\\Moravel.lnk'")

# Loading registers the service without starting it: the box must be set up
# with Moravel first. The settings word is the user's and stays unless the
# user asks otherwise (a silent uninstall keeps it).
file(READ ${packaging_dir}/windows/install.nsh CPACK_NSIS_EXTRA_INSTALL_COMMANDS)
file(READ ${packaging_dir}/windows/uninstall.nsh CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS)
