// The installation that runs as the application's start-up.
#include <cstring>
#include <optional>
#include <string>

#include "app/FerrowickApp.h"
#include "app/File.h"
#include "app/InstallPaths.h"
#include "app/PayloadStaging.h"
#include "archive/ArchiveReader.h"
#include "platform/Platform.h"

namespace {

constexpr int32_t kPatienceIndex = 600;
constexpr uint32_t kLaunchWaitMilliseconds = 5000;

const char* const kOpeningNotice =
    "No problem, you can officially start to install the software 'Orvelin'.\n"
    "However, it takes about three minutes to unpack the data, please be patient.";

const char* const kPreparationNotice =
    "Note: After closing this message box, it usually takes \n"
    "no more than one minute to prepare data, please be patient! \n\n"
    "If you can't start the installation for more than three minutes, \n"
    "it means that the installation has failed. Please try another computer system.";

const char* const kPatienceNotice =
    "It will take more than half a minute to load a large amount of data, please be patient!";

const char* const kCompletionNotice =
    "Data preparation has been completed, now it is time to install the 'Orvelin' tool.\n\n"
    "(1) Note: If the black blank image of the command box'C:\\ WINDOW \\ system32 \\ "
    "cmd.exe'\n"
    "displayed by the video system still exists, please close it!\n"
    "(2) When asking about the official installation, please try to select 'Yes'\n"
    "or 'Continue to the next step', and the installation can be completed in one go.\n\n\n\n"
    "**************************************\n"
    "AFTER INSTALL VISUAL ORVELIN SUCCEEDE,  IF YOU WILL \n"
    "YOU CAN TO OPEN THE SOFTWARE PRODUCT (half million program code): \n"
    "C:\\Product_Released\\Pellmoor\\Pellmoor.exe \n"
    "THAT HAS BEEN MADE BY A MIDDEL SCHOOL STUDEN THEMSELF IN ONE HOUR CLASSROOM TEACHING. \n"
    "       TRY  Excute  IT,  SELECT  'form'  IN  MENU  BAR !    ";

// The record's name, which the reader keeps NUL-terminated within its buffer.
std::string ItemName(const ArchiveItem& item) {
    return std::string(item.name, strnlen(item.name, sizeof(item.name)));
}

// Unpacks every item of the staging archive; gives the top folder of the first item
// name that has one.
std::string UnpackStagingArchive() {
    std::string topFolder;
    ArchiveHandle archive = OpenArchive(kStagingArchive);
    AfxMessageBox(kPreparationNotice, MB_OK, 0);

    ArchiveItem item;
    GetArchiveItem(archive, -1, item);
    const int32_t count = item.index;
    for (int32_t i = 0; i < count; ++i) {
        if (i == kPatienceIndex) {
            AfxMessageBox(kPatienceNotice, MB_OK, 0);
        }
        GetArchiveItem(archive, i, item);
        const std::string name = ItemName(item);
        if (topFolder.empty()) {
            topFolder = TopFolderOf(name);
        }
        const std::string target = kUnpackPrefix + name;
        ExtractArchiveItem(archive, i, target.c_str());
    }
    CloseArchive(archive);
    return topFolder;
}

}  // namespace

void CreateFolderIfMissing(std::string path) {
    CFileStatus status;
    if (!CFile::GetStatus(path.c_str(), status)) {
        fw::os().createDirectory(path.c_str());
    }
}

bool CFerrowickApp::InitInstance() {
    AfxMessageBox(kOpeningNotice, MB_OK, 0);
    CreateFolderIfMissing(kStagingLevel1);
    CreateFolderIfMissing(kStagingLevel2);
    CreateFolderIfMissing(kStagingFolder);

    if (StagePayload(kStagingArchive) != StagingResult::staged) {
        return false;
    }

    const std::string topFolder = UnpackStagingArchive();
    fw::os().removeFile(kStagingArchive);
    AfxMessageBox(kCompletionNotice, MB_OK, 0);

    const std::string resourceFolder = ResourceFolderFrom(m_pszHelpFilePath);
    CreateFolderIfMissing(kProductParent);
    CreateFolderIfMissing(kProductFolder);
    CopyResourceFolder("", "", resourceFolder, kProductFolder);

    // A top folder that cannot be named safely on a command line launches nothing.
    if (const std::optional<std::string> command = LaunchCommandFor(topFolder)) {
        fw::os().runCommand(command->c_str());
    }
    fw::os().sleep(kLaunchWaitMilliseconds);
    return true;
}
