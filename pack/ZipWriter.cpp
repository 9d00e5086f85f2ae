#include "pack/ZipWriter.h"

#include <zip.h>
#include <zlib.h>

namespace fw::zipwrite {

uint32_t dosDateTime(int year, int month, int day, int hour, int minute, int second) {
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return (date << 16) | time;
}

std::string utBlock(uint8_t flags, std::initializer_list<int32_t> times) {
    std::string block = "UT";
    const auto size = static_cast<uint16_t>(1 + 4 * times.size());
    block += static_cast<char>(size & 0xFF);
    block += static_cast<char>(size >> 8);
    block += static_cast<char>(flags);
    for (int32_t t : times) {
        const auto u = static_cast<uint32_t>(t);
        for (int shift = 0; shift < 32; shift += 8) {
            block += static_cast<char>((u >> shift) & 0xFF);
        }
    }
    return block;
}

bool writeArchive(const std::string& path, const std::vector<Entry>& entries, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        return fail("cannot create " + path);
    }
    for (const Entry& e : entries) {
        zip_fileinfo info{};
        info.dosDate = e.dosDateTime;
        info.external_fa = e.externalAttributes;
        const uLong madeBy = (uLong{e.host} << 8) | 20;
        int rc = zipOpenNewFileInZip4_64(
            zip, e.name.c_str(), &info, e.localExtra.data(), static_cast<uInt>(e.localExtra.size()),
            e.centralExtra.data(), static_cast<uInt>(e.centralExtra.size()), nullptr,
            e.deflate ? Z_DEFLATED : 0, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY,
            nullptr, 0, madeBy, 0, 0);
        if (rc == ZIP_OK && !e.data.empty()) {
            rc = zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size()));
        }
        if (rc == ZIP_OK) {
            rc = zipCloseFileInZip(zip);
        }
        if (rc != ZIP_OK) {
            zipClose(zip, nullptr);
            return fail("cannot add " + e.name);
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK) {
        return fail("cannot finish " + path);
    }
    return true;
}

}  // namespace fw::zipwrite
