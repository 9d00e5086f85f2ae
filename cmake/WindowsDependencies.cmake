# Dependencies of the Windows cross build. zlib comes from Debian's mingw package
# (libz-mingw-w64-dev); minizip is compiled here from the source of Debian's zlib
# package, which tools/install-windows-deps unpacks into .deps/, as it builds ISA-L from
# Debian's libisal source there; GoogleTest is compiled from Debian's googletest sources.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

file(GLOB _minizipCandidates LIST_DIRECTORIES true
     "${PROJECT_SOURCE_DIR}/.deps/zlib-*/contrib/minizip")
list(SORT _minizipCandidates ORDER DESCENDING)
list(GET _minizipCandidates 0 _minizipFound)
set(FERROWICK_MINIZIP_SOURCE "${_minizipFound}" CACHE PATH
    "contrib/minizip of a zlib source tree (tools/install-windows-deps fetches one)")
if(NOT EXISTS "${FERROWICK_MINIZIP_SOURCE}/unzip.c")
    message(FATAL_ERROR "minizip source not found; run tools/install-windows-deps")
endif()

# Third-party code: compiled without our warning level, its headers included as system
# headers so that they do not trip ours either.
add_library(ferrowick_minizip_impl STATIC
    ${FERROWICK_MINIZIP_SOURCE}/ioapi.c
    ${FERROWICK_MINIZIP_SOURCE}/iowin32.c
    ${FERROWICK_MINIZIP_SOURCE}/unzip.c
    ${FERROWICK_MINIZIP_SOURCE}/zip.c)
target_compile_options(ferrowick_minizip_impl PRIVATE -w)
target_include_directories(ferrowick_minizip_impl SYSTEM PUBLIC ${FERROWICK_MINIZIP_SOURCE})
target_link_libraries(ferrowick_minizip_impl PUBLIC ZLIB::ZLIB)

add_library(ferrowick_minizip INTERFACE)
target_link_libraries(ferrowick_minizip INTERFACE ferrowick_minizip_impl)

# ISA-L, built for mingw from the source of Debian's libisal package by
# tools/install-windows-deps (its assembly needs nasm, which its own makefile drives).
file(GLOB _isalCandidates LIST_DIRECTORIES true "${PROJECT_SOURCE_DIR}/.deps/libisal-*")
list(SORT _isalCandidates ORDER DESCENDING)
list(GET _isalCandidates 0 _isalFound)
set(FERROWICK_ISAL_SOURCE "${_isalFound}" CACHE PATH
    "a libisal source tree built with arch=mingw (tools/install-windows-deps makes one)")
if(NOT EXISTS "${FERROWICK_ISAL_SOURCE}/bin/isa-l.a")
    message(FATAL_ERROR "ISA-L for mingw not found; run tools/install-windows-deps")
endif()
add_library(ferrowick_isal_impl STATIC IMPORTED)
set_target_properties(ferrowick_isal_impl PROPERTIES
    IMPORTED_LOCATION "${FERROWICK_ISAL_SOURCE}/bin/isa-l.a")
# Its headers as the Linux package installs them: <isa-l/igzip_lib.h>.
set(_isalHeaders "${CMAKE_BINARY_DIR}/isal-include")
file(MAKE_DIRECTORY "${_isalHeaders}/isa-l")
file(GLOB _isalPublic "${FERROWICK_ISAL_SOURCE}/include/*.h")
file(COPY ${_isalPublic} DESTINATION "${_isalHeaders}/isa-l")
add_library(ferrowick_isal INTERFACE)
target_include_directories(ferrowick_isal SYSTEM INTERFACE "${_isalHeaders}")
target_link_libraries(ferrowick_isal INTERFACE ferrowick_isal_impl)

if(FERROWICK_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(_t gtest gtest_main gmock gmock_main)
        target_compile_options(${_t} PRIVATE -w)
    endforeach()
    # The names find_package(GTest) gives, where the source tree does not make them.
    foreach(_alias gtest:gtest gtest_main:gtest_main gmock:gmock gmock_main:gmock_main
                   GTest:gtest Main:gtest_main)
        string(REPLACE ":" ";" _pair ${_alias})
        list(GET _pair 0 _name)
        list(GET _pair 1 _target)
        if(NOT TARGET GTest::${_name})
            add_library(GTest::${_name} ALIAS ${_target})
        endif()
    endforeach()
endif()

# Test programs run under wine, in a prefix of the build tree's own.
set(FERROWICK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${PROJECT_SOURCE_DIR}/tests/windows/wine-run;--again-if-silent;${FERROWICK_WINEPREFIX}")
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
