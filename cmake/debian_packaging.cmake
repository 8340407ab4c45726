# The Debian package of a native build, included from packaging.cmake.
include(GNUInstallDirs)
install(TARGETS dupsweep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/dupsweep.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# What Debian asks of every package beyond the installed files: a compressed
# manual page, the copyright file and a change log, and the README beside
# them. They are added to the staged tree only, so that cmake --install
# keeps to the program and its page.
set(CPACK_DUPSWEEP_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DUPSWEEP_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_files.cmake)
