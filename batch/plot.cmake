# The SVG plot renderer of the batch tool, a library of its own so that the batch
# executable and the plot tests link the same code. libxml2 escapes the title text.
find_package(LibXml2 REQUIRED)
add_library(quintolex_plot STATIC ${CMAKE_CURRENT_LIST_DIR}/plot.cpp)
target_include_directories(quintolex_plot PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quintolex_plot PRIVATE LibXml2::LibXml2)
