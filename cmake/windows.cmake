# Windows-only parts of the build, included from the top-level CMakeLists.txt.

# The shipped program must run from a bare folder: it may import system DLLs
# only, never the MinGW runtime's own (libstdc++, libgcc, winpthread).
if(CMAKE_CROSSCOMPILING AND CMAKE_OBJDUMP)
  enable_testing()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(dupsweep_pe_format pei-i386)
  else()
    set(dupsweep_pe_format pei-x86-64)
  endif()
  add_test(NAME WindowsProgram.ImportsOnlySystemDlls
    COMMAND ${CMAKE_COMMAND}
      -DOBJDUMP=${CMAKE_OBJDUMP}
      -DPROGRAM=$<TARGET_FILE:dupsweep>
      -DFORMAT=${dupsweep_pe_format}
      -P ${CMAKE_CURRENT_LIST_DIR}/check_imports.cmake)
endif()

# The manifest makes UTF-8 the program's ANSI code page; the resource script
# also carries the version information Explorer shows.
enable_language(RC)
target_sources(dupsweep PRIVATE ${PROJECT_SOURCE_DIR}/src/driver/dupsweep.rc)
set(dupsweep_manifest ${PROJECT_SOURCE_DIR}/src/driver/dupsweep.manifest)
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/driver/dupsweep.rc
  PROPERTIES OBJECT_DEPENDS ${dupsweep_manifest})
if(TARGET dupsweep_e2e_tests)
  target_sources(dupsweep_e2e_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/e2e_tests_win32.rc)
  set_source_files_properties(${PROJECT_SOURCE_DIR}/tests/e2e_tests_win32.rc
    PROPERTIES OBJECT_DEPENDS ${dupsweep_manifest})
  # The other tests capture the program's output in files, so no console
  # ever shows its names: this one runs it on a terminal as well. It stops
  # the prefix's Wine server at its end, so it runs alone.
  add_test(NAME WindowsProgram.ShowsNamesOnAConsole
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/console_names_test.sh
      ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:dupsweep>)
  set_tests_properties(WindowsProgram.ShowsNamesOnAConsole
    PROPERTIES RUN_SERIAL ON)
endif()

# Windows keeps the stack aligned to 16 bytes only, while GCC may spill AVX
# and AVX-512 registers with aligned moves that assume 32 or 64 (GCC bug
# 54412), which fault on a real CPU. The assembler encodes such
# moves as unaligned ones, which cost nothing on CPUs with these registers.
target_compile_options(dupsweep_sha1 PRIVATE -Wa,-muse-unaligned-vector-move)
