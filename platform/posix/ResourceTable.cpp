#include "platform/posix/ResourceTable.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <limits>

namespace fw::posix {

namespace {

uint64_t readLe(std::string_view bytes, std::size_t at, std::size_t width) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    return value;
}

void appendLe(std::string& out, uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

bool readExactly(int fd, std::string& buffer, uint64_t offset, std::size_t size) {
    buffer.assign(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            pread(fd, buffer.data() + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

TableRead damaged(std::string why) {
    TableRead result;
    result.state = TableState::damaged;
    result.problem = std::move(why);
    return result;
}

}  // namespace

std::optional<ResourceKey> parseResourceKey(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    ResourceKey key;
    if (text.front() == '#') {
        text.remove_prefix(1);
        if (text.empty() || text.size() > 5) {
            return std::nullopt;
        }
        uint32_t id = 0;
        for (char c : text) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            id = id * 10 + static_cast<uint32_t>(c - '0');
        }
        if (id == 0 || id > 0xFFFF) {
            return std::nullopt;
        }
        key.id = static_cast<uint16_t>(id);
        return key;
    }
    if (text.size() > 0xFFFF) {
        return std::nullopt;
    }
    for (char c : text) {
        key.name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

TableRead readResourceTable(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    if (fileSize < kTrailerSize) {
        return {};
    }
    std::string trailer;
    if (!readExactly(fd, trailer, fileSize - kTrailerSize, kTrailerSize)) {
        return damaged("the trailer cannot be read");
    }
    if (std::string_view(trailer).substr(0, kTableMagic.size()) != kTableMagic) {
        return {};
    }
    TableRead result;
    ResourceTable& table = result.table;
    table.imageSize = readLe(trailer, 8, 8);
    const uint64_t count = readLe(trailer, 16, 4);
    const uint64_t tableSize = readLe(trailer, 20, 4);
    table.tableOffset = readLe(trailer, 24, 8);
    const uint64_t tableEnd = fileSize - kTrailerSize;
    if (table.tableOffset > tableEnd || tableEnd - table.tableOffset != tableSize) {
        return damaged("the table does not end at the trailer");
    }
    if (table.imageSize > table.tableOffset) {
        return damaged("the image overlaps the table");
    }
    if (count > tableSize / kRecordHeaderSize) {
        return damaged("the entry count does not fit the table");
    }
    std::string bytes;
    if (!readExactly(fd, bytes, table.tableOffset, static_cast<std::size_t>(tableSize))) {
        return damaged("the table cannot be read");
    }
    std::size_t at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (bytes.size() - at < kRecordHeaderSize) {
            return damaged("a record runs past the table");
        }
        ResourceEntry entry;
        entry.language = static_cast<uint16_t>(readLe(bytes, at, 2));
        entry.type.id = static_cast<uint16_t>(readLe(bytes, at + 2, 2));
        entry.name.id = static_cast<uint16_t>(readLe(bytes, at + 4, 2));
        const auto typeLength = static_cast<std::size_t>(readLe(bytes, at + 6, 2));
        const auto nameLength = static_cast<std::size_t>(readLe(bytes, at + 8, 2));
        entry.offset = readLe(bytes, at + 12, 8);
        entry.size = readLe(bytes, at + 20, 8);
        at += kRecordHeaderSize;
        if (bytes.size() - at < typeLength + nameLength) {
            return damaged("a record's names run past the table");
        }
        entry.type.name = bytes.substr(at, typeLength);
        entry.name.name = bytes.substr(at + typeLength, nameLength);
        at += typeLength + nameLength;
        const bool typeOk = (entry.type.id != 0) != !entry.type.name.empty();
        const bool nameOk = (entry.name.id != 0) != !entry.name.name.empty();
        if (!typeOk || !nameOk) {
            return damaged("a record has neither or both of an id and a name");
        }
        if (entry.offset % kResourceAlignment != 0) {
            return damaged("resource data is not aligned");
        }
        if (entry.offset < table.imageSize || entry.offset > table.tableOffset ||
            entry.size > table.tableOffset - entry.offset) {
            return damaged("resource data lies outside its area");
        }
        table.entries.push_back(std::move(entry));
    }
    if (at != bytes.size()) {
        return damaged("the table has bytes after its last record");
    }
    result.state = TableState::valid;
    return result;
}

const ResourceEntry* findResourceEntry(const ResourceTable& table, std::string_view name,
                                       std::string_view type) {
    const auto nameKey = parseResourceKey(name);
    const auto typeKey = parseResourceKey(type);
    if (!nameKey || !typeKey) {
        return nullptr;
    }
    for (const ResourceEntry& entry : table.entries) {
        if (entry.name == *nameKey && entry.type == *typeKey) {
            return &entry;
        }
    }
    return nullptr;
}

std::string encodeResourceTable(const ResourceTable& table) {
    std::string out;
    for (const ResourceEntry& entry : table.entries) {
        appendLe(out, entry.language, 2);
        appendLe(out, entry.type.id, 2);
        appendLe(out, entry.name.id, 2);
        appendLe(out, entry.type.id ? 0 : entry.type.name.size(), 2);
        appendLe(out, entry.name.id ? 0 : entry.name.name.size(), 2);
        appendLe(out, 0, 2);
        appendLe(out, entry.offset, 8);
        appendLe(out, entry.size, 8);
        if (!entry.type.id) {
            out += entry.type.name;
        }
        if (!entry.name.id) {
            out += entry.name.name;
        }
    }
    const uint64_t tableSize = out.size();
    out += kTableMagic;
    appendLe(out, table.imageSize, 8);
    appendLe(out, table.entries.size(), 4);
    appendLe(out, tableSize, 4);
    appendLe(out, table.tableOffset, 8);
    return out;
}

Resource mapResourceEntry(int fd, const ResourceEntry& entry) {
    // A resource of no bytes still loads; it just has nothing to map.
    static const unsigned char empty[1] = {};
    if (entry.size == 0) {
        return Resource{true, empty, 0};
    }
    if (entry.size > std::numeric_limits<std::size_t>::max()) {
        return {};
    }
    const auto page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    const uint64_t start = entry.offset / page * page;
    const uint64_t lead = entry.offset - start;
    const auto length = static_cast<std::size_t>(entry.size + lead);
    void* base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED) {
        return {};
    }
    return Resource{true, static_cast<const unsigned char*>(base) + lead,
                    static_cast<std::size_t>(entry.size)};
}

Resource loadResourceFromFile(const std::string& hostPath, std::string_view name,
                              std::string_view type) {
    const int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    Resource resource;
    const TableRead read = readResourceTable(fd);
    if (read.state == TableState::valid) {
        if (const ResourceEntry* entry = findResourceEntry(read.table, name, type)) {
            resource = mapResourceEntry(fd, *entry);
        }
    }
    close(fd);
    return resource;
}

}  // namespace fw::posix
