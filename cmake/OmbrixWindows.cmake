# What the Windows build needs beyond the common build (see docs/windows.md).

# Every executable and DLL in one directory, so that the test programs and
# the tool find the project's DLLs (ombrix, qvcrypto, qvbiolib) beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
# DLLs by their own names (ombrix.dll, qvcrypto.dll, qvbiolib.dll); the import
# libraries keep the toolchain's lib prefix, so that -lombrix finds them.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
# windows.h without its min and max macros, which break std::min and std::max.
add_compile_definitions(NOMINMAX)
# GCC 12 reports array bounds, overlaps and over-reads inside libstdc++'s
# inlined vector and string code that cannot happen (false positives that its
# x86_64-w64-mingw32 build gives where the Linux build does not).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-array-bounds -Wno-restrict -Wno-stringop-overread)
endif()

# The build's programs run under Wine when cross-compiling: gtest discovery,
# ctest. A prefix of the build tree's own keeps the tests' registry entries
# out of the user's Wine.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(OMBRIX_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/bin)
    if(OMBRIX_WINE)
        set(OMBRIX_WINEPREFIX ${PROJECT_BINARY_DIR}/wine)
        set(CMAKE_CROSSCOMPILING_EMULATOR
            env WINEPREFIX=${OMBRIX_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
            ${OMBRIX_WINE})
    endif()
endif()

# GoogleTest is not packaged for mingw: build Debian's sources with the rest.
if(BUILD_TESTING AND NOT TARGET GTest::gtest)
    set(OMBRIX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    # Its targets come with the GTest:: names of the installed package.
    add_subdirectory(${OMBRIX_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
