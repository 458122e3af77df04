# The installation: the build installed into a fresh prefix by check.cmake.
add_test(NAME install.layout
         COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR}
                 -DPREFIX=${CMAKE_CURRENT_BINARY_DIR}/install-prefix
                 -DWITH_BATCH=$<TARGET_EXISTS:quintolex-batch>
                 -P ${CMAKE_CURRENT_LIST_DIR}/check.cmake)
set_tests_properties(install.layout PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: ")
