# What the packages hold and how CPack builds them: a Debian package from the
# Linux tree (`cpack -G DEB`), an installer and a zip from the Windows tree
# (`cpack -G NSIS`, `cpack -G ZIP`). scripts/package builds both.
set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "keeps the PC clock in step with a Quorvel time code box")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <quorvel@example.org>")
set(CPACK_STRIP_FILES ON)
# Values reach CPack as written: NSIS lines carry quotes and backslashes.
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  include(cmake/QuorvelPackagingWindows.cmake)
else()
  include(cmake/QuorvelPackagingDebian.cmake)
endif()

include(CPack)
