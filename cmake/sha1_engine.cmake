# The SHA-1 engine's sources and their compile flags, in one place for the
# program, the fuzz targets and the benchmark.
include(CheckCXXCompilerFlag)

# Sets `out` to the engine's sources under `top` (the repository). On x86 it
# also carries compressors built on the SHA extensions, AVX2 and AVX-512,
# chosen at run time; each file is compiled for its own instructions only, so
# the program still runs on CPUs without them. Source file properties hold
# for the calling directory's targets only, so each project calls this.
function(dupsweep_sha1_sources out top)
  set(dir ${top}/src/sha1)
  set(sources ${dir}/sha1.cpp ${dir}/sha1_lanes.cpp)
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES
     "^([xX]86_64|AMD64|amd64|[xX]86|i[3-6]86)$")
    set(${out} ${sources} ${dir}/sha1_cpu_other.cpp PARENT_SCOPE)
    return()
  endif()

  # The vector steps add the newest working variable last, so that one step
  # waits on the one before for two instructions only; GCC's reassociation
  # would put it first again and halve the speed. Clang keeps the order.
  set(avx2_flags -mavx2)
  set(avx512_flags -mavx512f -mavx512bw)
  check_cxx_compiler_flag(-fno-tree-reassoc dupsweep_has_no_tree_reassoc)
  if(dupsweep_has_no_tree_reassoc)
    list(APPEND avx2_flags -fno-tree-reassoc)
    list(APPEND avx512_flags -fno-tree-reassoc)
  endif()
  # GCC 12's AVX-512 intrinsics start results from a self-initialised
  # "undefined" vector, which -Wmaybe-uninitialized takes for a real read
  # (GCC bug 105593). Clang has no such warning; GCC accepts any -Wno-*, so
  # the warning itself is what is checked.
  check_cxx_compiler_flag(-Wmaybe-uninitialized
                          dupsweep_has_maybe_uninitialized)
  if(dupsweep_has_maybe_uninitialized)
    list(APPEND avx512_flags -Wno-maybe-uninitialized)
  endif()

  set_source_files_properties(${dir}/sha1_shani.cpp PROPERTIES COMPILE_OPTIONS "-msha;-msse4.1;-mssse3")
  set_source_files_properties(${dir}/sha1_avx2.cpp
    PROPERTIES COMPILE_OPTIONS "${avx2_flags}")
  set_source_files_properties(${dir}/sha1_avx512.cpp
    PROPERTIES COMPILE_OPTIONS "${avx512_flags}")
  set(${out} ${sources}
    ${dir}/sha1_cpu_x86.cpp
    ${dir}/sha1_shani.cpp
    ${dir}/sha1_avx2.cpp
    ${dir}/sha1_avx512.cpp
    PARENT_SCOPE)
endfunction()
