# ombrix_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
# One GoogleTest executable; its tests are registered one by one with ctest.
# LIBS usually holds ombrix_testlib (the library's code over the in-process PC/SC).

# Builds every test executable labelled "threads" (what the TSan run needs).
if(NOT TARGET ombrix_threaded_tests)
    add_custom_target(ombrix_threaded_tests)
endif()

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
    # The discovered tests' properties cannot carry a list (it splits into
    # property names), so the first label goes there and every label also
    # goes to the directory, whose tests all carry it (executables of one
    # directory share their labels).
    list(GET T_LABELS 0 _first)
    set(_environment)
    if(WIN32)
        # Without OMBRIX_CARD_DB the library reads the machine's card database,
        # on Windows the registry, where the registry tests put card types of
        # their own while other tests run. A file that does not exist is no
        # database, as on a Linux machine without one; the registry tests clear
        # the variable themselves.
        set(_environment ENVIRONMENT "OMBRIX_CARD_DB=${PROJECT_BINARY_DIR}/no-card-database.conf")
    endif()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST ${_discovery}
        PROPERTIES LABELS "${_first}" ${_environment})
    set_property(DIRECTORY APPEND PROPERTY LABELS ${T_LABELS})
    if("threads" IN_LIST T_LABELS)
        add_dependencies(ombrix_threaded_tests ${T_NAME})
    endif()
endfunction()
