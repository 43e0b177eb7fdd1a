#pragma once
// Fixtures for the version tests: blocks built node by node, ELF files
// wrapped around them, temporary files and a saved/restored locale.

#include "VersionBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<std::uint8_t>;
using gloxen::version::VersionNode;

// "\StringFileInfo\<key>" holding the given name/value pairs.
VersionNode StringTable(const std::string& key, const std::vector<std::pair<std::string, std::string>>& strings);
VersionNode StringFileInfo(std::vector<VersionNode> tables);
// "\VarFileInfo\Translation" with one 4-byte entry per language/code page.
VersionNode Translations(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& entries);
// A VS_VERSION_INFO root with a fixed part for 1.0.0.0 and `children`.
Bytes Block(std::vector<VersionNode> children);
// A typical block: one table "040904E4" and its one translation entry.
Bytes SimpleBlock(const std::string& fileVersion);

// Offset of the first node whose key is `key`; fails the test when absent.
std::size_t NodeOffset(const Bytes& block, const std::u16string& key);
void Put16(Bytes& bytes, std::size_t at, std::uint16_t value);

struct ElfOptions {
    bool is64 = true;
    bool bigEndian = false;
    std::string sectionName = ".gloxen.version";
    std::uint32_t sectionType = 1;  // SHT_PROGBITS
    std::size_t trailingPadding = 0;  // zero bytes after the block, inside the section
};

// A minimal ELF file: sections null, .text, .shstrtab and the named one
// holding `contents`. Offsets of the parts tests like to damage are kept.
struct ElfImage {
    Bytes bytes;
    bool is64 = true;
    bool bigEndian = false;
    std::size_t sectionTable = 0;  // file offset of the section headers
    std::size_t entrySize = 0;     // bytes per section header
    std::size_t versionIndex = 3;  // index of the named section
    std::size_t stringsIndex = 2;  // index of .shstrtab

    // Writes `value` as a `width`-byte field in the image's byte order.
    void Put(std::size_t at, std::size_t width, std::uint64_t value);
    // Offset of the field at `fieldOffset` inside section header `index`.
    std::size_t SectionField(std::size_t index, std::size_t offset32, std::size_t offset64) const;
};
ElfImage BuildElf(const Bytes& contents, const ElfOptions& options = {});

// A folder removed with its files when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Writes `bytes` to a file called `name` in the folder; returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Sets LC_ALL, LC_MESSAGES and LANG (nullopt unsets) and restores them on
// destruction.
class ScopedLocale {
public:
    ScopedLocale(std::optional<std::string> lcAll, std::optional<std::string> lcMessages = std::nullopt,
                 std::optional<std::string> lang = std::nullopt);
    ~ScopedLocale();
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// This test program's own file, which carries the program's version block.
std::string OwnExecutable();

} // namespace testsupport
