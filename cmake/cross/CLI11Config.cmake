# CLI11 for a cross build: the build machine's headers, reached through a folder that holds them
# alone, so the target compiler never sees the build machine's C library headers.
include(${CMAKE_CURRENT_LIST_DIR}/cross_headers.cmake)
sw_cross_header_package(CLI11::CLI11 CLI)
set(CLI11_FOUND TRUE)
