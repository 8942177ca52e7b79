# libombrix: the library's code as one object library (ombrix_core), linked
# into the shared library with the platform's PC/SC, and into the tests with
# the in-process PC/SC instead (sim/pcsc).
file(GLOB_RECURSE OMBRIX_LIBRARY_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/shell/*.cpp
    ${PROJECT_SOURCE_DIR}/session/*.cpp
    ${PROJECT_SOURCE_DIR}/sm/*.cpp
    ${PROJECT_SOURCE_DIR}/cards/*.cpp)
# Development aid while parts of the tree are being written: leave the
# sources matching this regular expression out of the library.
set(OMBRIX_EXCLUDE_REGEX "" CACHE STRING "Leave library sources matching this regex out (development)")
if(OMBRIX_EXCLUDE_REGEX)
    list(FILTER OMBRIX_LIBRARY_SOURCES EXCLUDE REGEX "${OMBRIX_EXCLUDE_REGEX}")
endif()
if(WIN32)
    set(_ombrix_os windows)
else()
    set(_ombrix_os posix)
endif()
file(GLOB OMBRIX_PLATFORM_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/platform/*.cpp
    ${PROJECT_SOURCE_DIR}/platform/${_ombrix_os}/*.cpp)
# The platform's own PC/SC table goes into the shipped library only, and so
# does a Windows DLL's entry point.
set(OMBRIX_SYSTEM_PCSC_SOURCE ${PROJECT_SOURCE_DIR}/platform/${_ombrix_os}/pcsc_system.cpp)
if(WIN32)
    list(APPEND OMBRIX_SYSTEM_PCSC_SOURCE ${PROJECT_SOURCE_DIR}/platform/windows/dll_main.cpp)
endif()
list(REMOVE_ITEM OMBRIX_PLATFORM_SOURCES ${OMBRIX_SYSTEM_PCSC_SOURCE})

# The issuer constants (master key, transport key, FORMAT body, package
# images): the demonstration values, or the integrator's own file. A library of
# their own, so that the virtual card can be personalized with the same values.
set(OMBRIX_ISSUER_SOURCE ${PROJECT_SOURCE_DIR}/cards/r2/issuer_constants.cpp)
list(REMOVE_ITEM OMBRIX_LIBRARY_SOURCES ${OMBRIX_ISSUER_SOURCE})
if(OMBRIX_ISSUER_CONSTANTS)
    set(OMBRIX_ISSUER_SOURCE ${OMBRIX_ISSUER_CONSTANTS})
endif()
add_library(ombrix_issuer STATIC ${OMBRIX_ISSUER_SOURCE})
ombrix_warnings(ombrix_issuer)
target_include_directories(ombrix_issuer PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
set_target_properties(ombrix_issuer PROPERTIES CXX_VISIBILITY_PRESET hidden)

add_library(ombrix_core OBJECT ${OMBRIX_LIBRARY_SOURCES} ${OMBRIX_PLATFORM_SOURCES})
ombrix_warnings(ombrix_core)
target_include_directories(ombrix_core
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
           $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
    PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(ombrix_core PRIVATE OMBRIX_BUILDING
    OMBRIX_CARD_DB_PATH="${CMAKE_INSTALL_FULL_SYSCONFDIR}/ombrix/smartcards.conf")
set_target_properties(ombrix_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
    target_link_libraries(ombrix_core PUBLIC winscard)
else()
    target_include_directories(ombrix_core PUBLIC ${PCSCLITE_INCLUDE_DIRS})
endif()
target_link_libraries(ombrix_core PUBLIC OpenSSL::Crypto Threads::Threads $<BUILD_INTERFACE:ombrix_issuer>)
foreach(sibling qvcrypto qvbiolib)
    if(TARGET ${sibling})
        target_link_libraries(ombrix_core PUBLIC ${sibling})
    endif()
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/cmake/version.h.in ${PROJECT_BINARY_DIR}/include/ombrix/version.h @ONLY)

add_library(ombrix SHARED $<TARGET_OBJECTS:ombrix_core> ${OMBRIX_SYSTEM_PCSC_SOURCE})
add_library(Ombrix::ombrix ALIAS ombrix)
ombrix_warnings(ombrix)
target_include_directories(ombrix
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
           $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(ombrix PRIVATE OMBRIX_BUILDING)
set_target_properties(ombrix PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    OUTPUT_NAME ombrix)
if(WIN32)
    target_link_libraries(ombrix PRIVATE winscard)
else()
    target_include_directories(ombrix PRIVATE ${PCSCLITE_INCLUDE_DIRS})
    target_link_libraries(ombrix PRIVATE PkgConfig::PCSCLITE)
endif()
target_link_libraries(ombrix PRIVATE OpenSSL::Crypto Threads::Threads ombrix_issuer)
foreach(sibling qvcrypto qvbiolib)
    if(TARGET ${sibling})
        target_link_libraries(ombrix PUBLIC ${sibling})
    endif()
endforeach()

# -- installation: library, headers, CMake package, pkg-config file
include(CMakePackageConfigHelpers)
install(TARGETS ombrix EXPORT OmbrixTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ombrix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The card database: one section per card type of the seven models.
install(FILES ${PROJECT_SOURCE_DIR}/data/smartcards.conf DESTINATION ${CMAKE_INSTALL_SYSCONFDIR}/ombrix)
install(FILES ${PROJECT_BINARY_DIR}/include/ombrix/version.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/ombrix)
install(EXPORT OmbrixTargets NAMESPACE Ombrix:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ombrix)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OmbrixConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OmbrixConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ombrix)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OmbrixConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OmbrixConfig.cmake ${PROJECT_BINARY_DIR}/OmbrixConfigVersion.cmake
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Ombrix)
# Relocatable: the prefix is found from the .pc file's own place.
file(RELATIVE_PATH OMBRIX_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" OMBRIX_PC_TO_PREFIX "${OMBRIX_PC_TO_PREFIX}")
# The sibling components are libraries of their own that libombrix needs.
set(OMBRIX_PC_SIBLINGS "")
foreach(sibling qvcrypto qvbiolib)
    if(TARGET ${sibling})
        string(APPEND OMBRIX_PC_SIBLINGS " -l${sibling}")
    endif()
endforeach()
string(STRIP "${OMBRIX_PC_SIBLINGS}" OMBRIX_PC_SIBLINGS)
configure_file(${PROJECT_SOURCE_DIR}/cmake/ombrix.pc.in ${PROJECT_BINARY_DIR}/ombrix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ombrix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
