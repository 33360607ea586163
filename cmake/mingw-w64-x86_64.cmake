# Windows programs built on Linux with MinGW-w64: the posix-threads compiler (std::thread and
# std::mutex need it) and a static runtime, so a program runs without DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Header-only packages of the build machine are the same for every target: their package files
# under cross/ offer them without the rest of /usr/include.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The POSIX thread-safe time functions (localtime_r) that MinGW-w64 offers on request.
set(CMAKE_C_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
