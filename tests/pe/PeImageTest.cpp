// A Windows image's headers as the packers read them: how large an image Windows maps,
// and so how large a payload a stub may carry.
#include "pe/PeImage.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pe/PePayload.h"
#include "tests/pe/TestImages.h"
#include "tests/support/TempPrefix.h"

namespace fw::test {
namespace {

namespace fs = std::filesystem;

// Windows maps no image of 2 GiB or more, and a 32-bit one (or one not marked large-
// address aware) must fit below 2 GiB less the 64 KiB guards at both ends.
TEST(PeImageLimit, FollowsFromTheHeaders) {
    struct Case {
        const char* what;
        bool plus;
        uint16_t characteristics;
        uint64_t base;
        uint64_t largest;
    } cases[] = {
        {"64-bit, large-address aware", true, 0x22, 0x140000000, 0x80000000},
        {"64-bit, not large-address aware", true, 0x02, 0x140000000, 0x7FFE0000},
        {"32-bit, relocatable", false, 0x102, 0x400000, 0x7FFE0000},
        {"32-bit, fixed at its base", false, 0x103, 0x400000, 0x7FBF0000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pe::Image image;
        image.plus = c.plus;
        image.characteristics = c.characteristics;
        image.imageBase = c.base;
        image.sectionAlignment = 0x1000;
        EXPECT_EQ(pe::largestImageSize(image), c.largest);
    }

    // A stub: the largest payload fills its image to the last byte of 2 GiB, one byte
    // more takes another page, and packing refuses it before reading it.
    std::vector<std::pair<std::string, std::string>> stubs = {
        {"a minimal image", imageWithResources()}};
    if (fs::exists(windowsLauncher())) {
        stubs.emplace_back("the launcher as built", readHostFile(windowsLauncher()));
    }
    for (const auto& [what, stub] : stubs) {
        SCOPED_TRACE(what);
        uint64_t largest = 0;
        uint64_t limit = 0;
        ASSERT_EQ(pe::largestPayload(readerOf(stub), stub.size(), 54, largest, limit), "");
        EXPECT_EQ(limit, 0x80000000u);
        uint64_t size = 0;
        ASSERT_EQ(pe::imageSizeFor(readerOf(stub), stub.size(), 54 + largest, size), "");
        EXPECT_EQ(size, 0x80000000u);
        ASSERT_EQ(pe::imageSizeFor(readerOf(stub), stub.size(), 54 + largest + 1, size), "");
        EXPECT_EQ(size, 0x80000000u + 0x1000);
        pe::NewPayload tooLarge;
        tooLarge.prefix = std::string(54, 'p');
        tooLarge.size = largest + 1;
        tooLarge.read = [](void*, std::size_t, uint64_t) {
            ADD_FAILURE() << "a payload too large was read";
            return false;
        };
        pe::Output nowhere;
        nowhere.append = [](const void*, std::size_t) { return false; };
        nowhere.writeAt = [](const void*, std::size_t, uint64_t) { return false; };
        pe::Written written;
        EXPECT_EQ(pe::writeWithPayload(readerOf(stub), stub.size(), tooLarge, {}, nowhere, written),
                  "the payload of " + std::to_string(largest + 1) +
                      " bytes would make the launcher's image larger than the 2147483648 bytes "
                      "Windows loads (SizeOfImage); with this stub the payload may have at most " +
                      std::to_string(largest) + " bytes");
    }
}

}  // namespace
}  // namespace fw::test
