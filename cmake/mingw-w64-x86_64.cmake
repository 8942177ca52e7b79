# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain.
#   cmake --preset windows          (or -DCMAKE_TOOLCHAIN_FILE=<this file>)
# The POSIX thread model of the toolchain (the -posix compilers) gives the
# standard library's threads, mutexes and condition variables.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_mingw x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# Libraries built for Windows that the build machine does not package
# (OpenSSL, the staged header-only libraries) live in OMBRIX_WINDOWS_DEPS,
# which scripts/windows.sh prepares.
set(OMBRIX_WINDOWS_DEPS "" CACHE PATH "Prefix of the libraries built for the Windows cross build")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OMBRIX_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${OMBRIX_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthreads) is linked into every
# executable and DLL, so that nothing but the system's DLLs and the project's
# own need to be found at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Where the build's programs run (Wine, for gtest discovery and ctest): see
# cmake/OmbrixWindows.cmake.
