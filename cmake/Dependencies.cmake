# The Windows cross build brings its own (cmake/WindowsDependencies.cmake).
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
    return()
endif()

# zlib, minizip and ISA-L come from Debian's packages (zlib1g-dev, libminizip-dev,
# libisal-dev).
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)

# minizip's headers are third-party: keep our warning level away from them.
add_library(ferrowick_minizip INTERFACE)
target_include_directories(ferrowick_minizip SYSTEM INTERFACE ${MINIZIP_INCLUDE_DIRS})
target_link_libraries(ferrowick_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)

# ISA-L (libisal-dev): the reader's inflate and CRC-32.
pkg_check_modules(ISAL REQUIRED IMPORTED_TARGET libisal)
add_library(ferrowick_isal INTERFACE)
target_include_directories(ferrowick_isal SYSTEM INTERFACE ${ISAL_INCLUDE_DIRS})
target_link_libraries(ferrowick_isal INTERFACE PkgConfig::ISAL)

if(FERROWICK_TESTS)
    find_package(GTest REQUIRED)
endif()
