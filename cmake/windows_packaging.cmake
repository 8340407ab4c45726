# The zip of the Windows programs, included from packaging.cmake: the program
# of this build, the manual as text, the licence. The 32-bit program is the
# one shipped; the 64-bit one, built in another tree, goes beside it.
set(DUPSWEEP_WIN64_PROGRAM "" CACHE FILEPATH
  "A 64-bit dupsweep.exe to pack beside this build's program")

# The version resource takes its numbers from the project's version.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/version/dupsweep_version.h
  CONTENT "#define DUPSWEEP_VERSION_NUMBERS \
@PROJECT_VERSION_MAJOR@,@PROJECT_VERSION_MINOR@,@PROJECT_VERSION_PATCH@,0
#define DUPSWEEP_VERSION_TEXT \"@PROJECT_VERSION@\"
" @ONLY)
target_include_directories(dupsweep PRIVATE ${PROJECT_BINARY_DIR}/version)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/driver/dupsweep.rc APPEND
  PROPERTY OBJECT_DEPENDS ${PROJECT_BINARY_DIR}/version/dupsweep_version.h)

# The manual as plain text and the licence, both with the CR LF line ends
# Windows readers expect. groff comes with the packaging tools, so a build
# without it leaves the texts out, and the zip's check then fails.
find_program(DUPSWEEP_GROFF groff)
set(texts ${PROJECT_BINARY_DIR}/dupsweep.txt ${PROJECT_BINARY_DIR}/LICENSE.txt)
if(DUPSWEEP_GROFF)
  add_custom_command(OUTPUT ${texts}
    COMMAND ${CMAKE_COMMAND} -DGROFF=${DUPSWEEP_GROFF}
      -DPAGE=${PROJECT_BINARY_DIR}/dupsweep.1
      -DLICENCE=${PROJECT_SOURCE_DIR}/LICENSE
      -DOUTPUT_DIR=${PROJECT_BINARY_DIR}
      -P ${CMAKE_CURRENT_LIST_DIR}/windows_texts.cmake
    DEPENDS ${PROJECT_BINARY_DIR}/dupsweep.1 ${PROJECT_SOURCE_DIR}/LICENSE
      ${CMAKE_CURRENT_LIST_DIR}/windows_texts.cmake
    VERBATIM)
  add_custom_target(dupsweep_texts ALL DEPENDS ${texts})
  install(FILES ${texts} DESTINATION .)
endif()

install(TARGETS dupsweep RUNTIME DESTINATION .)
if(DUPSWEEP_WIN64_PROGRAM)
  install(PROGRAMS ${DUPSWEEP_WIN64_PROGRAM} DESTINATION .
    RENAME dupsweep64.exe)
endif()

set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME dupsweep-${PROJECT_VERSION}-win32)
else()
  set(CPACK_PACKAGE_FILE_NAME dupsweep-${PROJECT_VERSION}-win64)
endif()
