# One training run of a profile-generating program: its counts become the
# profile of the optimised program.
#   cmake -DTRAINER=<program> -DFROM=<its object dir> -DTO=<optimised object dir>
#         -DSTAMP=<file> -P train.cmake
# The program runs the built-in bench, a fixed set of single-threaded
# searches, so the counts are the same in every build.  A program the
# processor cannot run (it says so and exits with status 1) leaves no
# profile: the optimised program is then built without one.  The hash
# table's paging thread works alongside the bench at its own pace, so the
# counts of hash.cpp could differ from run to run; that file is left out, to
# keep the optimised build the same from one build to the next.
file(GLOB_RECURSE stale "${FROM}/*.gcda" "${TO}/*.gcda")
if(stale)
  file(REMOVE ${stale})
endif()
execute_process(COMMAND "${TRAINER}" bench 11 RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(STATUS "No profile for ${TRAINER}: ${error}")
  file(GLOB_RECURSE partial "${FROM}/*.gcda")
  if(partial)
    file(REMOVE ${partial})
  endif()
else()
  file(GLOB_RECURSE counts RELATIVE "${FROM}" "${FROM}/*.gcda")
  foreach(file ${counts})
    if(NOT file MATCHES "(^|/)hash\\.cpp\\.gcda$")
      get_filename_component(dir "${TO}/${file}" DIRECTORY)
      file(MAKE_DIRECTORY "${dir}")
      file(COPY "${FROM}/${file}" DESTINATION "${dir}")
    endif()
  endforeach()
endif()
file(TOUCH "${STAMP}")
