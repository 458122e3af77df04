# add_transcripts(<suite-dir> [<suite-name>]): one CTest test transcript.<suite>.<case>
# per case directory of the suite (tests/e2e/transcripts.py describes a case), run on
# the build's executables. The suite name defaults to the directory's name. Cases are
# globbed at configure time; a new case directory re-runs the configuration.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TRANSCRIPT_RUNNER ${CMAKE_CURRENT_LIST_DIR}/transcripts.py)

function(add_transcripts suite_dir)
  get_filename_component(suite ${suite_dir} NAME)
  if(ARGC GREATER 1)
    set(suite ${ARGV1})
  endif()
  file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${suite_dir}/*)
  foreach(case_dir IN LISTS entries)
    if(IS_DIRECTORY ${case_dir})
      get_filename_component(case ${case_dir} NAME)
      add_test(NAME transcript.${suite}.${case}
               COMMAND ${Python3_EXECUTABLE} ${TRANSCRIPT_RUNNER}
                       --program quintolex=$<TARGET_FILE:quintolex>
                       "$<$<TARGET_EXISTS:quintolex-batch>:--program;quintolex-batch=$<TARGET_FILE:quintolex-batch>>"
                       ${case_dir}
               COMMAND_EXPAND_LISTS)
      # A hang of the program fails its case instead of holding up the whole run.
      # A case for another system says so and is counted as skipped.
      set_tests_properties(transcript.${suite}.${case} PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
    endif()
  endforeach()
endfunction()
