# The batch tool's libraries for the Windows build, which Debian ships for this
# system only: CLI11 and nlohmann/json are headers (copied from /usr/include, so
# that the cross compiler sees no other header of this system), pugixml is built from
# Debian's source package, which tools/install-deps.sh unpacks under
# /usr/local/src/quintolex-windows/ (apt-get source pugixml).
set(DEBIAN_HEADERS ${CMAKE_BINARY_DIR}/debian-headers)
file(COPY /usr/include/CLI /usr/include/nlohmann /usr/include/pugixml.hpp /usr/include/pugiconfig.hpp
     DESTINATION ${DEBIAN_HEADERS})

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${DEBIAN_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${DEBIAN_HEADERS})

file(GLOB PUGIXML_SOURCE /usr/local/src/quintolex-windows/pugixml-*/src/pugixml.cpp)
if(NOT PUGIXML_SOURCE)
  message(FATAL_ERROR "pugixml's Debian source is missing: run tools/install-deps.sh")
endif()
list(GET PUGIXML_SOURCE 0 PUGIXML_SOURCE)
add_library(pugixml_windows STATIC ${PUGIXML_SOURCE})
target_include_directories(pugixml_windows PUBLIC ${DEBIAN_HEADERS})
set_property(TARGET pugixml_windows PROPERTY COMPILE_OPTIONS -w)
add_library(pugixml::static ALIAS pugixml_windows)
