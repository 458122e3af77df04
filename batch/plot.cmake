# The SVG plot renderer of the batch tool, a library of its own so that the batch
# executable and the plot tests link the same code. pugixml builds and writes the
# document. Its static library: the shared one is one more library to load at every
# start of the batch tool, plots or not, and starts measured slower.
if(NOT TARGET pugixml::static)
  find_package(pugixml REQUIRED)
endif()
add_library(quintolex_plot STATIC ${CMAKE_CURRENT_LIST_DIR}/plot.cpp)
target_include_directories(quintolex_plot PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quintolex_plot PRIVATE pugixml::static)
