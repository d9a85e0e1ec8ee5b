# Cross-compiling VdAgent.exe for x86_64 Windows with mingw-w64 on Linux.
#
#   cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
#
# The -posix compilers: the default (win32 threads) mingw g++ has no std::thread or
# std::mutex, which the logic uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VD_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
