// Writing the payload's archive to the staging archive file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/InstallPaths.h"
#include "app/PayloadStaging.h"
#include "platform/fault/FaultPlatform.h"
#include "tests/support/RecordingPlatform.h"
#include "tests/support/TempPrefix.h"

namespace {

namespace fs = std::filesystem;
using fw::fault::Call;

class PayloadStagingTest : public ::testing::Test {
  protected:
    fw::test::TempPrefix prefix;
    fw::test::RecordingPlatform platform;
    std::string archive = prefix.host(kStagingArchive);

    void SetUp() override { fs::create_directories(fs::path(archive).parent_path()); }
};

TEST_F(PayloadStagingTest, WritesEverythingAfterThePrefixOverAnyOlderLongerArchive) {
    ASSERT_TRUE(fw::test::writeHostFile(archive, std::string(100000, 'o')));
    std::string body;
    for (int i = 0; i < 70000; ++i) {
        body += static_cast<char>(i * 7);
    }
    for (const std::string& payload : {std::string(54, '\0') + body, std::string(54, 'x')}) {
        platform.script.payload = payload;
        fw::fault::FaultInjector counter;
        ASSERT_EQ(StagePayload(kStagingArchive), StagingResult::staged);
        EXPECT_EQ(counter.calls(Call::writeFile), 1);
        EXPECT_EQ(fw::test::readHostFile(archive), payload.substr(54));
    }
}

TEST_F(PayloadStagingTest, TellsAnUnloadablePayloadFromAnArchiveThatCannotBeMade) {
    platform.script.hasPayload = false;
    EXPECT_EQ(StagePayload(kStagingArchive), StagingResult::payloadNotLoadable);
    platform.script.hasPayload = true;
    platform.script.payload = std::string(53, 'x');
    EXPECT_EQ(StagePayload(kStagingArchive), StagingResult::payloadNotLoadable);
    EXPECT_FALSE(fs::exists(archive));

    platform.script.payload = std::string(60, 'x');
    uint32_t error = 0;
    EXPECT_EQ(StagePayload("C:\\Temp\\missing\\Morvanta.zip", nullptr, &error),
              StagingResult::archiveNotCreatable);
    EXPECT_EQ(error, fw::kErrorPathNotFound) << "the system's error, for the failure notice";
    EXPECT_EQ(StagePayload(kStagingArchive, nullptr, &error), StagingResult::staged);
    EXPECT_EQ(error, 0u);
}

TEST_F(PayloadStagingTest, FailedWriteOrCloseRemovesThePartialArchive) {
    platform.script.payload = std::string(54, 'x') + std::string(5000, 'y');
    for (const Call failing : {Call::writeFile, Call::closeFile}) {
        SCOPED_TRACE(fw::fault::callName(failing));
        fw::fault::FaultInjector faults;
        faults.failNth(failing, 1);
        EXPECT_EQ(StagePayload(kStagingArchive), StagingResult::archiveNotWritten);
        EXPECT_EQ(faults.injected(), 1);
        EXPECT_FALSE(fs::exists(archive));
    }
}

}  // namespace
