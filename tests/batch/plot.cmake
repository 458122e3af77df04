# The plot renderer's test: documents parsed with libxml2, a parser independent of
# the renderer's, and rendered with rsvg-convert.
find_package(LibXml2 REQUIRED)
add_executable(plot_test ${CMAKE_CURRENT_LIST_DIR}/plot_test.cpp)
target_link_libraries(plot_test PRIVATE quintolex_plot test_support LibXml2::LibXml2 GTest::gtest_main)
gtest_discover_tests(plot_test)
