# Shared part of the mingw-w64 toolchain files; VD_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${VD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VD_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: the executable and the stand-in DLLs carry libstdc++, libgcc and
# winpthread inside, so they run on a machine (or a Wine prefix) with no mingw DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine through the harness (ctest in the build directory).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../tests/wine/wine-run.sh)
