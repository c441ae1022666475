#include "pe_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace pe {
namespace {

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint32_t kFirstEntry = 0xFFFFFFFFu;

std::uint16_t read16(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    if (offset + 2 > bytes.size()) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t read32(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    if (offset + 4 > bytes.size()) {
        return 0;
    }
    return static_cast<std::uint32_t>(read16(bytes, offset)) |
           static_cast<std::uint32_t>(read16(bytes, offset + 2)) << 16;
}

std::size_t align4(std::size_t offset)
{
    return (offset + 3) & ~std::size_t{3};
}

} // namespace

File::File(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error_ = "cannot read " + path;
        return;
    }
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (read16(bytes_, 0) != 0x5A4D) {
        error_ = path + " has no MZ header";
        return;
    }
    const std::uint32_t header = read32(bytes_, 0x3C);
    if (read32(bytes_, header) != 0x00004550) {
        error_ = path + " has no PE signature";
        return;
    }
    const std::uint32_t coff = header + 4;
    machine_ = read16(bytes_, coff);
    const std::uint16_t sectionCount = read16(bytes_, coff + 2);
    const std::uint16_t optionalSize = read16(bytes_, coff + 16);
    characteristics_ = read16(bytes_, coff + 18);
    const std::uint32_t optional = coff + 20;
    optionalMagic_ = read16(bytes_, optional);
    if (optionalMagic_ != 0x10B) {
        error_ = path + " is not a PE32 (32-bit) image";
        return;
    }
    imageBase_ = read32(bytes_, optional + 28);
    directoryCount_ = read32(bytes_, optional + 92);
    directoryTable_ = optional + 96;
    if (directoryCount_ > 16 || directoryTable_ + 8 * directoryCount_ > optional + optionalSize) {
        error_ = path + " has a damaged data directory";
        return;
    }
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::size_t entry = optional + optionalSize + 40 * std::size_t{i};
        if (entry + 40 > bytes_.size()) {
            error_ = path + " has a damaged section table";
            return;
        }
        sections_.push_back(Section{read32(bytes_, entry + 12), read32(bytes_, entry + 8),
                                    read32(bytes_, entry + 16), read32(bytes_, entry + 20)});
    }
}

long long File::offsetOf(std::uint32_t rva, std::uint32_t size) const
{
    for (const Section& section : sections_) {
        const std::uint64_t start = section.address;
        const std::uint64_t end = start + std::max(section.virtualSize, section.rawSize);
        if (rva < start || rva >= end) {
            continue;
        }
        const std::uint64_t within = rva - start;
        if (within + size > section.rawSize || section.rawOffset + within + size > bytes_.size()) {
            return -1;
        }
        return static_cast<long long>(section.rawOffset + within);
    }
    return -1;
}

std::uint16_t File::u16(std::uint32_t rva) const
{
    const long long offset = offsetOf(rva, 2);
    return offset < 0 ? 0 : read16(bytes_, static_cast<std::size_t>(offset));
}

std::uint32_t File::u32(std::uint32_t rva) const
{
    const long long offset = offsetOf(rva, 4);
    return offset < 0 ? 0 : read32(bytes_, static_cast<std::size_t>(offset));
}

std::string File::string(std::uint32_t rva) const
{
    std::string text;
    for (long long offset = offsetOf(rva, 1);
         offset >= 0 && bytes_[static_cast<std::size_t>(offset)] != 0;
         offset = offsetOf(++rva, 1)) {
        text += static_cast<char>(bytes_[static_cast<std::size_t>(offset)]);
    }
    return text;
}

std::uint32_t File::directory(int index, std::uint32_t* size) const
{
    const auto at = static_cast<std::uint32_t>(index);
    if (at >= directoryCount_) {
        return 0;
    }
    if (size != nullptr) {
        *size = read32(bytes_, directoryTable_ + 8 * at + 4);
    }
    return read32(bytes_, directoryTable_ + 8 * at);
}

std::string File::exportName() const
{
    const std::uint32_t table = directory(0);
    return table == 0 ? std::string() : string(u32(table + 12));
}

std::uint32_t File::ordinalBase() const
{
    const std::uint32_t table = directory(0);
    return table == 0 ? 0 : u32(table + 16);
}

std::vector<Export> File::exports() const
{
    std::vector<Export> result;
    const std::uint32_t table = directory(0);
    if (table == 0) {
        return result;
    }
    const std::uint32_t base = u32(table + 16);
    const std::uint32_t functions = u32(table + 20);
    const std::uint32_t names = u32(table + 24);
    const std::uint32_t addresses = u32(table + 28);
    const std::uint32_t namePointers = u32(table + 32);
    const std::uint32_t nameOrdinals = u32(table + 36);
    for (std::uint32_t i = 0; i < functions && i < 0x10000; ++i) {
        result.push_back(Export{std::string(), base + i, u32(addresses + 4 * i)});
    }
    for (std::uint32_t i = 0; i < names && i < 0x10000; ++i) {
        const std::uint16_t index = u16(nameOrdinals + 2 * i);
        if (index < result.size()) {
            result[index].name = string(u32(namePointers + 4 * i));
        }
    }
    return result;
}

std::vector<std::string> File::exportNameTable() const
{
    std::vector<std::string> result;
    const std::uint32_t table = directory(0);
    if (table == 0) {
        return result;
    }
    const std::uint32_t names = u32(table + 24);
    const std::uint32_t namePointers = u32(table + 32);
    for (std::uint32_t i = 0; i < names && i < 0x10000; ++i) {
        result.push_back(string(u32(namePointers + 4 * i)));
    }
    return result;
}

std::vector<ImportedDll> File::imports() const
{
    std::vector<ImportedDll> result;
    const std::uint32_t table = directory(1);
    if (table == 0) {
        return result;
    }
    for (std::uint32_t descriptor = table; u32(descriptor + 12) != 0; descriptor += 20) {
        ImportedDll dll{string(u32(descriptor + 12)), {}, {}};
        // The lookup table; old linkers leave it out and only the address
        // table, unbound in the file, holds the names.
        std::uint32_t thunk = u32(descriptor);
        if (thunk == 0) {
            thunk = u32(descriptor + 16);
        }
        for (std::uint32_t entry; (entry = u32(thunk)) != 0; thunk += 4) {
            if ((entry & 0x80000000u) != 0) {
                dll.byOrdinal.push_back(entry & 0xFFFFu);
            } else {
                dll.byName.push_back(string(entry + 2)); // after the hint
            }
        }
        result.push_back(dll);
        if (result.size() > 256) {
            break; // no real image imports from so many
        }
    }
    return result;
}

std::uint32_t File::resourceEntry(std::uint32_t table, std::uint32_t id) const
{
    const std::uint32_t count = std::uint32_t{u16(table + 12)} + u16(table + 14);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t entry = table + 16 + 8 * i;
        if (id == kFirstEntry || u32(entry) == id) {
            return u32(entry + 4);
        }
    }
    return 0;
}

std::vector<std::uint8_t> File::resource(std::uint16_t type, std::uint16_t id) const
{
    const std::uint32_t root = directory(2);
    if (root == 0) {
        return {};
    }
    const std::uint32_t byType = resourceEntry(root, type);
    if ((byType & kSubdirectory) == 0) {
        return {};
    }
    const std::uint32_t byId = resourceEntry(root + (byType & ~kSubdirectory), id);
    if ((byId & kSubdirectory) == 0) {
        return {};
    }
    const std::uint32_t byLanguage = resourceEntry(root + (byId & ~kSubdirectory), kFirstEntry);
    if (byLanguage == 0 || (byLanguage & kSubdirectory) != 0) {
        return {};
    }
    const std::uint32_t dataRva = u32(root + byLanguage);
    const std::uint32_t dataSize = u32(root + byLanguage + 4);
    const long long offset = offsetOf(dataRva, dataSize);
    if (offset < 0) {
        return {};
    }
    const auto start = bytes_.begin() + offset;
    return std::vector<std::uint8_t>(start, start + dataSize);
}

const VersionNode* VersionNode::child(const std::string& name) const
{
    for (const VersionNode& node : children) {
        if (node.key == name) {
            return &node;
        }
    }
    return nullptr;
}

std::string VersionNode::textValue() const
{
    std::string result;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        const auto unit = static_cast<std::uint16_t>(value[i] | value[i + 1] << 8);
        if (unit == 0) {
            break;
        }
        result += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return result;
}

namespace {

// Parses the node at `offset` of `data`; its end in `end`.
VersionNode parseNode(const std::vector<std::uint8_t>& data, std::size_t offset, std::size_t& end,
                      std::string& error, int depth)
{
    VersionNode node;
    const std::size_t length = read16(data, offset);
    const std::size_t valueLength = read16(data, offset + 2);
    node.text = read16(data, offset + 4) == 1;
    end = offset + length;
    if (length < 6 || end > data.size() || depth > 8) {
        error = "damaged version resource node at offset " + std::to_string(offset);
        end = data.size();
        return node;
    }
    std::size_t at = offset + 6;
    for (std::uint16_t unit; at + 2 <= end && (unit = read16(data, at)) != 0; at += 2) {
        node.key += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    at = align4(at + 2);
    const std::size_t valueBytes = node.text ? 2 * valueLength : valueLength;
    if (at + valueBytes > end) {
        error = "version resource value beyond its node: " + node.key;
        return node;
    }
    node.value.assign(data.begin() + static_cast<long>(at),
                      data.begin() + static_cast<long>(at + valueBytes));
    at = align4(at + valueBytes);
    while (at < end && error.empty()) {
        std::size_t childEnd = 0;
        node.children.push_back(parseNode(data, at, childEnd, error, depth + 1));
        if (childEnd > end) {
            error = "version resource node beyond its parent: " + node.children.back().key;
        }
        at = align4(childEnd);
    }
    return node;
}

} // namespace

VersionNode parseVersion(const std::vector<std::uint8_t>& data, std::string& error)
{
    std::size_t end = 0;
    return parseNode(data, 0, end, error, 0);
}

} // namespace pe
