# ombrix_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
# One GoogleTest executable; its tests are registered one by one with ctest.
# LIBS usually holds ombrix_testlib (the library's code over the in-process PC/SC).
function(ombrix_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    ombrix_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
    set(_discovery)
    if(MINGW)
        # The tests' few POSIX calls the Windows C runtime lacks (setenv, unsetenv).
        target_compile_options(${T_NAME} PRIVATE
            -include ${PROJECT_SOURCE_DIR}/tests/windows/posix_env.h)
    endif()
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        # Listing the tests starts the emulator (Wine), slower than the default allows.
        set(_discovery DISCOVERY_TIMEOUT 120)
    endif()
    # A list of labels must reach the generated test script as one value.
    string(REPLACE ";" "\\;" _labels "${T_LABELS}")
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST ${_discovery} PROPERTIES LABELS "${_labels}")
endfunction()
