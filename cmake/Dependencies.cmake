# The Windows cross build brings its own (cmake/WindowsDependencies.cmake).
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
    return()
endif()

# zlib and minizip come from Debian's packages (zlib1g-dev, libminizip-dev).
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)

# minizip's headers are third-party: keep our warning level away from them.
add_library(ferrowick_minizip INTERFACE)
target_include_directories(ferrowick_minizip SYSTEM INTERFACE ${MINIZIP_INCLUDE_DIRS})
target_link_libraries(ferrowick_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)

if(FERROWICK_TESTS)
    find_package(GTest REQUIRED)
endif()
