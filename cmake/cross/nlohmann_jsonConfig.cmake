# nlohmann-json for a cross build; see CLI11Config.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/cross_headers.cmake)
sw_cross_header_package(nlohmann_json::nlohmann_json nlohmann)
set(nlohmann_json_VERSION 3.11.2)
set(nlohmann_json_FOUND TRUE)
