# The launcher's own tests: its resource table, the packer, the process entries of the
# POSIX backend and, once the launcher is built, runs of the launcher itself.
if(WIN32 OR NOT TARGET ferrowick-pack)
    return()
endif()

add_executable(ferrowick_launcher_tests
    LauncherTestSupport.cpp
    LauncherResourceTableTest.cpp
    PackerTest.cpp
    ProcessTest.cpp
    ProcessCommandTest.cpp
    UnpackToolTest.cpp
    ${PROJECT_SOURCE_DIR}/tests/archive/RawZip.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/PrefixSnapshot.cpp
)
target_link_libraries(ferrowick_launcher_tests PRIVATE
    ferrowick_platform ferrowick_testsupport ferrowick_zipwriter ferrowick_sample
    GTest::gtest_main)
target_compile_definitions(ferrowick_launcher_tests PRIVATE
    FERROWICK_PACK_PATH="$<TARGET_FILE:ferrowick-pack>"
    FERROWICK_UNPACK_PATH="$<TARGET_FILE:ferrowick-unpack>"
    FERROWICK_SAMPLE_PATH="$<TARGET_FILE:ferrowick-make-sample>")
add_dependencies(ferrowick_launcher_tests ferrowick-pack ferrowick-unpack ferrowick-make-sample)

if(FERROWICK_LAUNCHER AND NOT FERROWICK_PAYLOAD)
    target_sources(ferrowick_launcher_tests PRIVATE LauncherRunTest.cpp)
    target_compile_definitions(ferrowick_launcher_tests PRIVATE
        FERROWICK_LAUNCHER_PATH="${FERROWICK_LAUNCHER}"
        FERROWICK_STUB_PATH="$<TARGET_FILE:ferrowick-stub>")
    add_dependencies(ferrowick_launcher_tests ferrowick-launcher)
endif()

# Under the sanitizers a launcher that unpacks and copies 32 MB items runs several times
# slower; the interrupted-run test makes six such runs.
if(FERROWICK_SANITIZE)
    set(launcher_test_timeout 360)
else()
    set(launcher_test_timeout 120)
endif()
gtest_discover_tests(ferrowick_launcher_tests
    PROPERTIES TIMEOUT ${launcher_test_timeout}
    DISCOVERY_TIMEOUT 60)
