// A reader of 32-bit Windows PE files for the static checks: headers,
// export and import directories and resources, as the Windows loader and
// resource functions see them. Every read is bounds-checked; a damaged
// file reads as empty values and an error text, never out of its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

struct Export {
    std::string name; // empty for an export by ordinal only
    std::uint32_t ordinal;
    std::uint32_t rva;
};

struct ImportedDll {
    std::string name;
    std::vector<std::string> byName;
    std::vector<std::uint32_t> byOrdinal;
};

// One node of a version resource (VS_VERSIONINFO and its blocks).
struct VersionNode {
    std::string key;
    std::vector<std::uint8_t> value;
    bool text = false; // value is UTF-16 text
    std::vector<VersionNode> children;

    const VersionNode* child(const std::string& name) const;
    // The value as text, without its terminating NULs (ASCII only).
    std::string textValue() const;
};

class File {
public:
    explicit File(const std::string& path);

    // Empty when the file was read and its headers make sense.
    const std::string& error() const { return error_; }

    std::uint16_t machine() const { return machine_; }
    std::uint16_t characteristics() const { return characteristics_; }
    std::uint16_t optionalMagic() const { return optionalMagic_; }
    std::uint32_t imageBase() const { return imageBase_; }

    // The export directory: the module name, the ordinal base and every
    // entry of the address table with its name, if any.
    std::string exportName() const;
    std::uint32_t ordinalBase() const;
    std::vector<Export> exports() const;
    // The names of the name table in their stored order.
    std::vector<std::string> exportNameTable() const;

    std::vector<ImportedDll> imports() const;

    // The data of the resource of `type` and `id`, first language; empty
    // when there is none.
    std::vector<std::uint8_t> resource(std::uint16_t type, std::uint16_t id) const;

private:
    struct Section {
        std::uint32_t address;
        std::uint32_t virtualSize;
        std::uint32_t rawSize;
        std::uint32_t rawOffset;
    };

    // File offset of `size` bytes at `rva`, or -1 when they are not all in
    // the file.
    long long offsetOf(std::uint32_t rva, std::uint32_t size) const;
    std::uint16_t u16(std::uint32_t rva) const;
    std::uint32_t u32(std::uint32_t rva) const;
    std::string string(std::uint32_t rva) const;
    std::uint32_t directory(int index, std::uint32_t* size = nullptr) const;
    // The entry of resource directory `table` for `id` (0xFFFFFFFF: the
    // first entry), or 0.
    std::uint32_t resourceEntry(std::uint32_t table, std::uint32_t id) const;

    std::vector<std::uint8_t> bytes_;
    std::string error_;
    std::uint16_t machine_ = 0;
    std::uint16_t characteristics_ = 0;
    std::uint16_t optionalMagic_ = 0;
    std::uint32_t imageBase_ = 0;
    std::uint32_t directoryTable_ = 0; // file offset
    std::uint32_t directoryCount_ = 0;
    std::vector<Section> sections_;
};

// Parses a VS_VERSIONINFO resource; `error` is set when it is damaged.
VersionNode parseVersion(const std::vector<std::uint8_t>& data, std::string& error);

} // namespace pe
