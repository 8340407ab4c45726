# Installation and packages, included last from the top-level CMakeLists.txt.
# A native build installs the program and its manual page and packs them as a
# Debian package; a Windows build packs its program, the manual as text and
# the licence as a zip. PROJECT_VERSION is the one version number of both and
# of the Windows version resource.

# The Windows build's page becomes the zip's text: its example is a run at a
# Windows prompt, naming the program to run on each Windows.
if(WIN32)
  set(example_run ${PROJECT_SOURCE_DIR}/doc/example_run_windows.man)
else()
  set(example_run ${PROJECT_SOURCE_DIR}/doc/example_run_posix.man)
endif()
file(READ ${example_run} DUPSWEEP_EXAMPLE_RUN)
string(STRIP "${DUPSWEEP_EXAMPLE_RUN}" DUPSWEEP_EXAMPLE_RUN)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${example_run})
configure_file(${PROJECT_SOURCE_DIR}/doc/dupsweep.1.in
  ${PROJECT_BINARY_DIR}/dupsweep.1 @ONLY)

set(CPACK_PACKAGE_NAME dupsweep)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The dupsweep developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "delete duplicate files in one directory, keeping the newest")
set(CPACK_PACKAGE_DESCRIPTION
"dupsweep looks at the regular files directly inside one directory, finds
those with the same size and the same SHA-1 digest of their contents, and
deletes all of each group but the one written last. With --nosha1, equal
size alone makes files duplicates.

It asks nothing before deleting, but before each deletion it checks that the
duplicate and the file that stays are unchanged since they were listed, are
not one file under two names, and hold the same bytes. Subdirectories,
symbolic links, pipes, sockets and devices are never touched.")
set(DUPSWEEP_MAINTAINER "dupsweep maintainers <maintainers@dupsweep.example>"
  CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_CONTACT "${DUPSWEEP_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/windows_packaging.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/debian_packaging.cmake)
endif()

include(CPack)
