// Failures of the platform during an extraction: each gives its result, closes every
// file it opened and leaks nothing (the suite runs under LeakSanitizer).
#include <gtest/gtest.h>

#include <string>

#include "platform/fault/FaultPlatform.h"
#include "tests/archive/ArchiveFixture.h"

namespace fw::test {
namespace {

using ExtractionFaultTest = ArchiveFixture;
using fault::Call;

// Bytes that do not compress, so deflated data is read from the file as often as stored.
std::string bulk(std::size_t size) {
    std::string s(size, '\0');
    uint32_t x = 2463534242u;
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

TEST_F(ExtractionFaultTest, PlatformFailures) {
    const std::string data = bulk(400000);  // two pieces of the archive
    const std::string path =
        zipArchive("faults.zip", {{.name = "stored", .data = data, .deflate = false},
                                  {.name = "deflated", .data = data, .deflate = true}});
    struct Case {
        const char* what;
        Call call;
        int nth;
        bool onwards;
        ArchiveResult expected;
        bool fileStays;
    };
    const Case cases[] = {
        {"create refused", Call::createFile, 1, false, AR_CANNOT_OPEN, false},
        {"folder refused", Call::createDirectory, 1, true, AR_CANNOT_OPEN, false},
        {"first write fails", Call::writeFile, 1, false, AR_WRITE_FAILED, true},
        {"a later write fails", Call::writeFile, 2, false, AR_WRITE_FAILED, true},
        {"data reads fail", Call::readFileAt, 1, true, AR_INFLATE_FAILED, true},
        {"a later data read fails", Call::readFileAt, 2, false, AR_INFLATE_FAILED, true},
    };
    for (int index = 0; index < 2; ++index) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (index ? ", deflated" : ", stored"));
            ArchiveHandle h = open(path);
            ASSERT_NE(h, nullptr);
            ArchiveItem item;
            ASSERT_EQ(GetArchiveItem(h, index, item), AR_OK);
            const std::string target = "C:/f" + std::to_string(index) + "/" + c.what + "/x";
            {
                fault::FaultInjector faults;
                if (c.onwards) {
                    faults.failFrom(c.call, c.nth);
                } else {
                    faults.failNth(c.call, c.nth);
                }
                EXPECT_EQ(ExtractArchiveItem(h, index, target.c_str()), c.expected);
                EXPECT_GT(faults.injected(), 0);
                // The output file, when it was made, is closed; the archive is not.
                EXPECT_EQ(faults.calls(Call::closeFile), c.fileStays ? 1 : 0);
                EXPECT_EQ(faults.calls(Call::setFileTimes), 0);
            }
            EXPECT_EQ(exists(target), c.fileStays);
            EXPECT_LT(read(target).size(), data.size());
            // The handle still works once the platform does.
            EXPECT_EQ(ExtractArchiveItem(h, index, target.c_str()), AR_OK);
            EXPECT_TRUE(read(target) == data);
            EXPECT_EQ(close(h), AR_OK);
        }
    }
}

TEST_F(ExtractionFaultTest, AFailedCloseOfTheOutputIsAFailedWrite) {
    // A platform that writes behind learns at the close that the last data did not land.
    const std::string data = bulk(40000);
    ArchiveHandle h = openZip({{.name = "d", .data = data, .deflate = true}});
    ASSERT_NE(h, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(h, 0, item), AR_OK);
    {
        fault::FaultInjector faults;
        faults.failNth(Call::closeFile, 1);
        EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/closing/d"), AR_WRITE_FAILED);
        EXPECT_EQ(faults.calls(Call::setFileTimes), 1);
    }
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/closing/d"), AR_OK);
    EXPECT_TRUE(read("C:/closing/d") == data);
    EXPECT_EQ(close(h), AR_OK);
}

TEST_F(ExtractionFaultTest, ShortReadOfTheArchiveIsAFailure) {
    const std::string data = bulk(400000);
    ArchiveHandle h = openZip({{.name = "s", .data = data, .deflate = false}});
    ASSERT_NE(h, nullptr);
    ArchiveItem item;
    ASSERT_EQ(GetArchiveItem(h, 0, item), AR_OK);
    fault::FaultInjector faults;
    faults.shortReadFrom(Call::readFileAt, 1, 100);
    EXPECT_EQ(ExtractArchiveItem(h, 0, "C:/short/s"), AR_INFLATE_FAILED);
    EXPECT_LT(read("C:/short/s").size(), data.size());
}

}  // namespace
}  // namespace fw::test
