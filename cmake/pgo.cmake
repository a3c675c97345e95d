# Programs trained on "bench" (TARNWICK_PGO=ON).  Each release program is
# built three times over:
#   <program>-instrumented   the engine compiled to count its branches and
#                            calls (built only as the training needs it);
#   <program>-profile        runs "<program>-instrumented bench", which
#                            leaves the counts in pgo/<program>/ of the build
#                            folder (cmake/pgo-train.cmake);
#   <program>                the engine compiled again from those counts,
#                            with link-time optimisation.
# Each program is trained on its own build, so its counts match its code.
# The platform layer and the processor check are built as for any program,
# neither instrumented nor optimised this way: they run before the engine.
# The engine's library (<program>-core) is still built for the tests and the
# benchmark programs, as they need it.

if(CMAKE_CROSSCOMPILING OR WIN32)
  message(FATAL_ERROR "TARNWICK_PGO trains each program by running it on this machine; "
    "programs for Windows or for another processor are built without it")
endif()

include(CheckIPOSupported)
check_ipo_supported(RESULT lto_supported OUTPUT lto_output LANGUAGES CXX)
if(NOT lto_supported)
  message(FATAL_ERROR "TARNWICK_PGO needs link-time optimisation, which ${CMAKE_CXX_COMPILER} cannot do here:\n${lto_output}")
endif()

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # g++ names each object's counts after the object's path, and the
  # instrumented and the optimised objects of a program lie in folders of
  # their own (CMakeFiles/<target>.dir, as the Makefile and Ninja generators
  # lay them out).  With that folder taken off, both look for the same file:
  # pgo/<program>/counts/src#search.cpp.gcda.  Within the file g++ tells
  # functions of internal linkage (an anonymous namespace, static) apart by
  # a hash of the object's path as well, unless told to number them in the
  # order of the source: without that, the counts of most of the search and
  # the evaluation would not be found.
  set(TARNWICK_PGO_GCC_OPTIONS --param=profile-func-internal-id=1)
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-fprofile-prefix-path=/ TARNWICK_HAVE_PROFILE_PREFIX_PATH)
  if(NOT TARNWICK_HAVE_PROFILE_PREFIX_PATH)
    message(FATAL_ERROR "TARNWICK_PGO needs g++ 11 or later (-fprofile-prefix-path)")
  endif()
  if(CMAKE_CONFIGURATION_TYPES)
    message(FATAL_ERROR "TARNWICK_PGO needs a single-configuration generator (Unix Makefiles or Ninja)")
  endif()
  set(TARNWICK_LLVM_PROFDATA "")
elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # clang++ keys its counts by function, so only the merged file matters; it
  # must be merged by the llvm-profdata of the same release.
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=llvm-profdata
    OUTPUT_VARIABLE profdata_guess OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REGEX MATCH "^[0-9]+" clang_major "${CMAKE_CXX_COMPILER_VERSION}")
  find_program(TARNWICK_LLVM_PROFDATA NAMES ${profdata_guess} llvm-profdata-${clang_major} llvm-profdata)
  if(NOT TARNWICK_LLVM_PROFDATA)
    message(FATAL_ERROR "TARNWICK_PGO with clang++ needs llvm-profdata (Debian package llvm-${clang_major})")
  endif()
else()
  message(FATAL_ERROR "TARNWICK_PGO is for g++ or clang++, not ${CMAKE_CXX_COMPILER_ID}")
endif()

# add_trained_program(<program> <processor-check objects>), called by
# add_flavour, whose options, definitions and extra it reads.
function(add_trained_program name check)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/pgo/${name})
  set(objects ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles)
  set(sources ${ENGINE_SOURCES} src/main.cpp $<TARGET_OBJECTS:${name}-platform> ${check})

  add_executable(${name}-instrumented EXCLUDE_FROM_ALL ${sources})
  engine_settings(${name}-instrumented PRIVATE)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Atomic counters: the search runs on a thread of its own.
    target_compile_options(${name}-instrumented PRIVATE -fprofile-generate=${dir}/counts
      -fprofile-prefix-path=${objects}/${name}-instrumented.dir ${TARNWICK_PGO_GCC_OPTIONS}
      -fprofile-update=atomic)
    target_link_options(${name}-instrumented PRIVATE -fprofile-generate)
  else()
    target_compile_options(${name}-instrumented PRIVATE -fprofile-instr-generate -fprofile-update=atomic)
    target_link_options(${name}-instrumented PRIVATE -fprofile-instr-generate)
  endif()

  # The training writes trained.h last, a header of one comment that every
  # optimised object includes: new counts make them all compile again.
  add_custom_command(OUTPUT ${dir}/trained.h
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${name}-instrumented> -DDIR=${dir}
            -DPROFDATA=${TARNWICK_LLVM_PROFDATA} -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/pgo-train.cmake
    DEPENDS ${name}-instrumented ${CMAKE_CURRENT_SOURCE_DIR}/cmake/pgo-train.cmake
    COMMENT "Training ${name} on bench"
    VERBATIM)
  add_custom_target(${name}-profile DEPENDS ${dir}/trained.h)

  add_executable(${name} ${sources})
  engine_settings(${name} PRIVATE)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${name} PRIVATE -fprofile-use=${dir}/counts
      -fprofile-prefix-path=${objects}/${name}.dir ${TARNWICK_PGO_GCC_OPTIONS})
  else()
    target_compile_options(${name} PRIVATE -fprofile-instr-use=${dir}/bench.profdata)
  endif()
  target_compile_options(${name} PRIVATE -include ${dir}/trained.h)
  set_property(TARGET ${name} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
  # The link compiles the whole program: with the instruction set too.
  target_link_options(${name} PRIVATE ${options})
  add_dependencies(${name} ${name}-profile)

  # The engine's library only where the tests or the benchmarks link it.
  set_property(TARGET ${name}-core PROPERTY EXCLUDE_FROM_ALL ON)
endfunction()
