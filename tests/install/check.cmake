# Installs the build BUILD into a fresh PREFIX and checks what lands there: the
# programs in bin/ (the batch program when WITH_BATCH), the manual pages in
# share/man/man1/, which must format without a single warning, and each program
# answering --version with its name and exit status 0. A program that does not know
# --version yet marks the test skipped once everything else has passed.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
set(programs quintolex)
if(WITH_BATCH)
  list(APPEND programs quintolex-batch)
endif()
foreach(page quintolex quintolex-batch)
  set(file "${PREFIX}/share/man/man1/${page}.1")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
  execute_process(COMMAND groff -man -Tutf8 -ww -z "${file}"
                  RESULT_VARIABLE status ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}.1 does not format cleanly (${status}):\n${warnings}")
  endif()
endforeach()
foreach(program ${programs})
  set(file "${PREFIX}/bin/${program}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
  execute_process(COMMAND "${file}" --version INPUT_FILE /dev/null
                  RESULT_VARIABLE status OUTPUT_VARIABLE version ERROR_VARIABLE errors)
  if(version MATCHES "Please enter the name of your data file")
    set(skipped "${program} does not know --version yet: it started its dialogue")
  elseif(NOT status EQUAL 0 OR NOT version MATCHES "^${program} [^\n]+\n$")
    message(FATAL_ERROR "${program} --version: status ${status}, output:\n${version}${errors}")
  endif()
endforeach()
if(skipped)
  message("SKIPPED: ${skipped}")
endif()
