#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace testsupport {

using namespace gloxen::version;

VersionNode StringTable(const std::string& key, const std::vector<std::pair<std::string, std::string>>& strings)
{
    std::vector<VersionNode> nodes;
    for (const auto& [name, value] : strings)
        nodes.push_back(TextNode(std::u16string(name.begin(), name.end()), value));
    return ContainerNode(std::u16string(key.begin(), key.end()), std::move(nodes));
}

VersionNode StringFileInfo(std::vector<VersionNode> tables)
{
    return ContainerNode(u"StringFileInfo", std::move(tables));
}

VersionNode Translations(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& entries)
{
    Bytes value;
    for (const auto& [language, codePage] : entries) {
        value.push_back(std::uint8_t(language));
        value.push_back(std::uint8_t(language >> 8));
        value.push_back(std::uint8_t(codePage));
        value.push_back(std::uint8_t(codePage >> 8));
    }
    return ContainerNode(u"VarFileInfo", {BinaryNode(u"Translation", value)});
}

Bytes Block(std::vector<VersionNode> children)
{
    VersionRecord record;
    record.fileVersion = {1, 0, 0, 0};
    VersionNode root = BinaryNode(u"VS_VERSION_INFO", FixedFileInfo(record));
    root.children = std::move(children);
    return SerializeVersionNode(root);
}

Bytes SimpleBlock(const std::string& fileVersion)
{
    return Block({StringFileInfo({StringTable("040904E4", {{"CompanyName", "x"}, {"FileVersion", fileVersion}})}),
                  Translations({{0x0409, 1252}})});
}

std::size_t NodeOffset(const Bytes& block, const std::u16string& key)
{
    Bytes needle;
    for (char16_t c : key) {
        needle.push_back(std::uint8_t(c));
        needle.push_back(std::uint8_t(c >> 8));
    }
    needle.push_back(0);
    needle.push_back(0);
    const auto at = std::search(block.begin(), block.end(), needle.begin(), needle.end());
    EXPECT_NE(at, block.end()) << "no node with that key in the fixture";
    return at == block.end() ? 0 : std::size_t(at - block.begin()) - 6;
}

void Put16(Bytes& bytes, std::size_t at, std::uint16_t value)
{
    bytes.at(at) = std::uint8_t(value);
    bytes.at(at + 1) = std::uint8_t(value >> 8);
}

void ElfImage::Put(std::size_t at, std::size_t width, std::uint64_t value)
{
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t shift = bigEndian ? 8 * (width - 1 - i) : 8 * i;
        bytes.at(at + i) = std::uint8_t(value >> shift);
    }
}

std::size_t ElfImage::SectionField(std::size_t index, std::size_t offset32, std::size_t offset64) const
{
    return sectionTable + index * entrySize + (is64 ? offset64 : offset32);
}

ElfImage BuildElf(const Bytes& contents, const ElfOptions& options)
{
    ElfImage elf;
    elf.is64 = options.is64;
    elf.bigEndian = options.bigEndian;
    const std::size_t headerBytes = options.is64 ? 64 : 52;
    const std::size_t word = options.is64 ? 8 : 4;
    elf.entrySize = options.is64 ? 64 : 40;

    const std::string names = std::string("\0.text\0.shstrtab\0", 17) + options.sectionName + '\0';
    const std::uint32_t textName = 1, stringsName = 7, versionName = 17;

    auto align = [](std::size_t n, std::size_t a) { return (n + a - 1) / a * a; };
    const std::size_t textAt = headerBytes;
    const std::size_t versionAt = align(textAt + 4, 4);
    const std::size_t versionBytes = contents.size() + options.trailingPadding;
    const std::size_t namesAt = versionAt + versionBytes;
    elf.sectionTable = align(namesAt + names.size(), 8);
    elf.bytes.assign(elf.sectionTable + 4 * elf.entrySize, 0);

    const std::uint8_t ident[] = {0x7F, 'E', 'L', 'F', std::uint8_t(options.is64 ? 2 : 1),
                                  std::uint8_t(options.bigEndian ? 2 : 1), 1};
    std::copy(std::begin(ident), std::end(ident), elf.bytes.begin());
    elf.Put(16, 2, 2);                               // e_type: executable
    elf.Put(18, 2, options.is64 ? 62 : 3);           // e_machine: x86-64 / i386
    elf.Put(20, 4, 1);                               // e_version
    const std::size_t shoffAt = options.is64 ? 40 : 32;
    elf.Put(shoffAt, word, elf.sectionTable);
    elf.Put(shoffAt + word + 4, 2, headerBytes);     // e_ehsize
    elf.Put(shoffAt + word + 10, 2, elf.entrySize);  // e_shentsize
    elf.Put(shoffAt + word + 12, 2, 4);              // e_shnum
    elf.Put(shoffAt + word + 14, 2, 2);              // e_shstrndx

    std::fill_n(elf.bytes.begin() + textAt, 4, 0x90);
    std::copy(contents.begin(), contents.end(), elf.bytes.begin() + versionAt);
    std::copy(names.begin(), names.end(), elf.bytes.begin() + namesAt);

    auto section = [&](std::size_t index, std::uint32_t name, std::uint32_t type, std::size_t offset,
                       std::size_t size) {
        elf.Put(elf.SectionField(index, 0, 0), 4, name);
        elf.Put(elf.SectionField(index, 4, 4), 4, type);
        elf.Put(elf.SectionField(index, 16, 24), word, offset);
        elf.Put(elf.SectionField(index, 20, 32), word, size);
    };
    section(1, textName, 1, textAt, 4);
    section(2, stringsName, 3, namesAt, names.size());
    section(3, versionName, options.sectionType, versionAt, versionBytes);
    return elf;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "gloxen-version-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const
{
    const std::string path = path_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

ScopedLocale::ScopedLocale(std::optional<std::string> lcAll, std::optional<std::string> lcMessages,
                           std::optional<std::string> lang)
{
    const std::pair<const char*, std::optional<std::string>*> wanted[] = {
        {"LC_ALL", &lcAll}, {"LC_MESSAGES", &lcMessages}, {"LANG", &lang}};
    for (const auto& [name, value] : wanted) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (*value)
            ::setenv(name, (*value)->c_str(), 1);
        else
            ::unsetenv(name);
    }
}

ScopedLocale::~ScopedLocale()
{
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

std::string OwnExecutable()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

} // namespace testsupport
