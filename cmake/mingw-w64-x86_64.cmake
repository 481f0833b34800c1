# Cross-compiling for 64-bit Windows with Debian's MinGW-w64, posix threads
# (std::thread and std::mutex need them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
# Qt and OpenSSL built for Windows live in prefixes of their own
# (POINTWIND_WIN_PREFIXES, set by scripts/windows.sh), searched beside
# MinGW's own root; nothing of the Linux host is taken.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES POINTWIND_WIN_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${POINTWIND_WIN_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
