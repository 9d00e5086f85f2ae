#include "pack/SampleInstallerSet.h"

namespace fw::sample {

namespace {

// Bytes of code page 936: "说明" (explanation) and "淺" (shallow), whose trail byte
// is 0x5C, the byte of a backslash.
const std::string kExplanation = "\xCB\xB5\xC3\xF7";
const std::string kShallow = "\x9C\x5C";

const char* const kSetupScript =
    "#!/bin/sh\n"
    "# The sample installer: records each run in SETUP.LOG beside itself, each argument\n"
    "# on a line of its own, and ends with the status in FERROWICK_SETUP_STATUS (or 0).\n"
    "log=\"$(dirname \"$0\")/SETUP.LOG\"\n"
    "echo \"$(date '+%Y-%m-%d %H:%M:%S') SETUP.EXE ran with $# arguments\" >> \"$log\"\n"
    "for a in \"$@\"; do printf 'argument: %s\\n' \"$a\" >> \"$log\"; done\n"
    "exit \"${FERROWICK_SETUP_STATUS:-0}\"\n";

std::string repeated(const std::string& line, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += line;
    }
    return out;
}

SampleItem item(std::string name, std::string data, int32_t modified) {
    SampleItem i;
    i.name = std::move(name);
    i.data = std::move(data);
    i.modified = modified;
    i.accessed = modified + 3600;
    i.created = modified - 86400;
    return i;
}

std::vector<SampleItem> makeItems() {
    // 2010-01-02 03:04:05 UTC and later: far from the entries' DOS time of 2008.
    constexpr int32_t base = 1262401445;
    std::vector<SampleItem> items;
    items.push_back(item("disk1/DATA.TAG", "Ferrowick sample installer set, disk 1\r\n", base));
    items.push_back(item("disk1/Res/REST/html1.htm",
                         "<html><head><title>Welcome</title></head>\r\n"
                         "<body><p>Thank you for installing the sample.</p></body></html>\r\n",
                         base + 60));
    items.push_back(item("disk1/Data/Samples/sample1.txt",
                         repeated("Sample data line, repeated so that it deflates well.\r\n", 40),
                         base + 120));
    items.push_back(
        item("disk1/Data/Samples/Deep/Deeper/notes.txt", "Four levels down.\r\n", base + 180));
    SampleItem stored =
        item("disk1/Data/STORED.BIN", std::string("\x00\x01\x02\x03\xFE\xFF", 6), base + 240);
    stored.deflate = false;
    items.push_back(stored);
    SampleItem empty = item("disk1/Data/EMPTY.DAT", "", base + 300);
    items.push_back(empty);
    SampleItem readOnly =
        item("disk1/LICENSE.TXT", "This sample may be copied freely.\r\n", base + 360);
    readOnly.externalAttributes = 0x21;
    items.push_back(readOnly);
    items.push_back(
        item("disk1/" + kExplanation + ".txt", "Name in code page 936.\r\n", base + 420));
    items.push_back(item("disk1/Res/" + kShallow + "/shade.txt",
                         "A folder whose name ends in the byte 0x5C.\r\n", base + 480));
    items.push_back(item(kSetupItemName, kSetupScript, base + 540));
    items.push_back(
        item("disk1/Data/Samples/sample2.txt", repeated("0123456789", 200), base + 600));
    return items;
}

}  // namespace

const std::vector<SampleItem>& sampleItems() {
    static const std::vector<SampleItem> items = makeItems();
    return items;
}

std::vector<zipwrite::Entry> sampleEntries(const std::string* setupProgram) {
    std::vector<zipwrite::Entry> entries;
    for (const SampleItem& i : sampleItems()) {
        zipwrite::Entry e;
        e.name = i.name;
        e.data = setupProgram && i.name == kSetupItemName ? *setupProgram : i.data;
        e.deflate = i.deflate;
        e.host = zipwrite::kHostNtfs;
        e.externalAttributes = i.externalAttributes;
        e.dosDateTime = zipwrite::dosDateTime(2008, 6, 1, 12, 0, 0);
        e.localExtra = zipwrite::utBlock(7, {i.modified, i.accessed, i.created});
        e.centralExtra = zipwrite::utBlock(7, {i.modified});
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace fw::sample
