// The recursive copy of the resource folder into the product folder.
#include <string>

#include "app/FerrowickApp.h"
#include "app/FileErrors.h"
#include "app/Folders.h"
#include "app/Text.h"
#include "platform/Platform.h"

namespace {

std::string CopyFailureNotice(const std::string& source, const std::string& destination) {
    return "Remind ! Failed to copy a resource file '" + source + "'\n" +
           "to the new resource file '" + destination + "'. \n" +
           "Note: if failed be copied files are not used later (such as .ncd ,opt), you may "
           "continue without any problem." +
           "First need to close an running product for it (such as .ncd ,opt).";
}

}  // namespace

void CFerrowickApp::CopyResourceFolder(std::string replaceFrom, std::string replaceTo,
                                       std::string sourceFolder, std::string destinationFolder) {
    const std::string pattern = sourceFolder + "\\*";
    fw::FindEntry entry;
    const fw::FindHandle find = fw::os().findFirst(pattern.c_str(), entry);
    if (find == fw::kInvalidFind) {
        if (log_.IsOpen()) {
            log_.Line(copy_.depth == 0 ? "resource folder" : "not copied",
                      sourceFolder + " cannot be listed, so nothing of it is copied to " +
                          destinationFolder + ": " + SystemWords(fw::os().lastError()));
        }
        fw::os().writeStandardOutput("No files found\n\n");
        return;
    }
    copy_.listed = copy_.listed || copy_.depth == 0;
    ++copy_.depth;

    // Paths are built in strings, so a long name is never cut short here; a path the
    // platform refuses fails its own copy and gets its own notice.
    for (;;) {
        if ((entry.attributes & fw::kAttrDirectory) != 0) {
            if (entry.name != "." && entry.name != "..") {
                const std::string childSource = sourceFolder + "\\" + entry.name;
                const std::string childDestination = destinationFolder + "\\" + entry.name;
                // A linked folder may lead back into the tree and round for ever: it is not
                // followed, and is reported as what could not be copied.
                if ((entry.attributes & fw::kAttrReparsePoint) != 0) {
                    log_.Line("not copied", childSource + " to " + childDestination +
                                                ": a link or junction, which is not followed");
                    ++copy_.failed;
                    AfxMessageBox(CopyFailureNotice(childSource, childDestination), MB_OK, 0);
                } else {
                    fw::os().createDirectory(childDestination.c_str());
                    CopyResourceFolder(replaceFrom, replaceTo, childSource, childDestination);
                }
            }
        } else if (Trim(entry.name) != "Thumbs.db") {
            const std::string source = sourceFolder + "\\" + entry.name;
            CreateFolderIfMissing(destinationFolder);
            const std::string destination =
                destinationFolder + "\\" + ReplaceAll(entry.name, replaceFrom, replaceTo);
            if (fw::os().copyFile(source.c_str(), destination.c_str())) {
                ++copy_.copied;
            } else {
                if (log_.IsOpen()) {
                    log_.Line("not copied", source + " to " + destination + ": " +
                                                ReasonFor(fw::os().lastError()));
                }
                ++copy_.failed;
                AfxMessageBox(CopyFailureNotice(source, destination), MB_OK, 0);
            }
        }
        // A failed step delivers no entry: the listing of this folder ends there rather
        // than handling the previous entry again.
        if (fw::os().findNext(find, entry) != fw::FindStep::entry) {
            break;
        }
    }
    fw::os().findClose(find);
    --copy_.depth;
}
