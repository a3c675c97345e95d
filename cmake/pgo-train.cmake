# Trains one program (TARNWICK_PGO): runs its instrumented build on "bench"
# and leaves the counts in DIR, then writes DIR/trained.h, which the
# optimised build includes.  Old counts are removed first: g++ adds a run's
# counts to those it finds.
#   cmake -DPROGRAM=<instrumented program> -DDIR=<folder> [-DPROFDATA=<llvm-profdata>] -P pgo-train.cmake
file(REMOVE_RECURSE ${DIR}/counts)
file(REMOVE ${DIR}/bench.profdata ${DIR}/trained.h)
file(MAKE_DIRECTORY ${DIR}/counts)
set(ENV{LLVM_PROFILE_FILE} ${DIR}/counts/bench-%p.profraw)
execute_process(COMMAND ${PROGRAM} bench
  INPUT_FILE /dev/null OUTPUT_FILE ${DIR}/bench.txt ERROR_FILE ${DIR}/bench.txt
  RESULT_VARIABLE status)
file(STRINGS ${DIR}/bench.txt signature REGEX "^Bench: ")
if(NOT status EQUAL 0 OR NOT signature)
  file(READ ${DIR}/bench.txt output)
  message(FATAL_ERROR "${PROGRAM} bench failed (${status}):\n${output}")
endif()
if(PROFDATA)
  file(GLOB raw ${DIR}/counts/*.profraw)
  execute_process(COMMAND ${PROFDATA} merge -output=${DIR}/bench.profdata ${raw} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROFDATA} merge failed")
  endif()
else()
  file(GLOB counts ${DIR}/counts/*.gcda)
  if(NOT counts)
    message(FATAL_ERROR "${PROGRAM} bench left no counts in ${DIR}/counts")
  endif()
endif()
get_filename_component(program ${PROGRAM} NAME)
file(WRITE ${DIR}/trained.h "// ${program}: ${signature}\n")
