// Finding the version section in ELF files of both classes and byte orders,
// and refusing ones whose headers point outside the file.
#include "Libfunc.h"
#include "TestSupport.h"
#include "VersionInfo.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;

namespace {

std::optional<std::string> VersionOfImage(const Bytes& image)
{
    const TempDir dir;
    const std::string path = dir.Write("program", image);
    const char* found = GetFileVersionString(path.c_str());
    return found ? std::optional<std::string>(found) : std::nullopt;
}

struct ElfKind {
    const char* name;
    bool is64;
    bool bigEndian;
};

class ElfFile : public testing::TestWithParam<ElfKind> {
protected:
    ElfImage Build(const ElfOptions& extra = {}) const
    {
        ElfOptions options = extra;
        options.is64 = GetParam().is64;
        options.bigEndian = GetParam().bigEndian;
        return BuildElf(SimpleBlock("3.1.4.1"), options);
    }
    // Byte offset of e_shoff, e_shentsize, e_shnum, e_shstrndx in the file header.
    std::size_t Shoff() const { return GetParam().is64 ? 40 : 32; }
    std::size_t Shentsize() const { return Shoff() + (GetParam().is64 ? 18 : 14); }
    std::size_t Shnum() const { return Shentsize() + 2; }
    std::size_t Shstrndx() const { return Shentsize() + 4; }
    std::size_t Word() const { return GetParam().is64 ? 8 : 4; }
};

TEST_P(ElfFile, SectionFound)
{
    EXPECT_EQ(VersionOfImage(Build().bytes), "3.1.4.1");
}

TEST_P(ElfFile, SectionLongerThanTheBlock)
{
    ElfOptions options;
    options.trailingPadding = 37;
    EXPECT_EQ(VersionOfImage(Build(options).bytes), "3.1.4.1");
}

TEST_P(ElfFile, ExtendedSectionCount)
{
    // e_shnum 0 and e_shstrndx 0xFFFF: both are then kept in section 0.
    ElfImage elf = Build();
    elf.Put(Shnum(), 2, 0);
    elf.Put(Shstrndx(), 2, 0xFFFF);
    elf.Put(elf.SectionField(0, 20, 32), Word(), 4);  // sh_size
    elf.Put(elf.SectionField(0, 24, 40), 4, 2);       // sh_link
    EXPECT_EQ(VersionOfImage(elf.bytes), "3.1.4.1");
}

TEST_P(ElfFile, DamagedHeaders)
{
    const struct {
        const char* name;
        std::function<void(ElfImage&)> damage;
    } cases[] = {
        {"WrongSectionName",
         [](ElfImage& e) {
             const std::string name = ".gloxen.version";
             *std::search(e.bytes.begin(), e.bytes.end(), name.begin(), name.end()) = '_';
         }},
        {"SectionWithoutContents", [](ElfImage& e) { e.Put(e.SectionField(3, 4, 4), 4, 8); }},
        {"TableOffsetPastEnd", [this](ElfImage& e) { e.Put(Shoff(), Word(), e.bytes.size()); }},
        {"TableOffsetZero", [this](ElfImage& e) { e.Put(Shoff(), Word(), 0); }},
        {"TableRunsPastEnd", [this](ElfImage& e) { e.Put(Shnum(), 2, 5); }},
        {"TableOffsetWraps", [this](ElfImage& e) { e.Put(Shoff(), Word(), ~std::uint64_t(0) - 8); }},
        {"EntrySizeTooSmall", [this](ElfImage& e) { e.Put(Shentsize(), 2, 16); }},
        {"EntrySizeHuge", [this](ElfImage& e) { e.Put(Shentsize(), 2, 0xFFFF); }},
        {"NamesIndexOutOfRange", [this](ElfImage& e) { e.Put(Shstrndx(), 2, 4); }},
        {"ExtendedCountPastEnd",
         [this](ElfImage& e) {
             e.Put(Shnum(), 2, 0);
             e.Put(e.SectionField(0, 20, 32), Word(), 0xFFFFFF);
         }},
        {"NamesPastEnd", [this](ElfImage& e) { e.Put(e.SectionField(2, 20, 32), Word(), e.bytes.size()); }},
        {"NameOffsetPastNames", [](ElfImage& e) { e.Put(e.SectionField(3, 0, 0), 4, 0xFFFFFFF0); }},
        {"NameRunsPastNames",
         [this](ElfImage& e) { e.Put(e.SectionField(2, 20, 32), Word(), 20); }},  // ".gloxen.version" cut
        {"ContentsPastEnd", [this](ElfImage& e) { e.Put(e.SectionField(3, 16, 24), Word(), e.bytes.size() - 8); }},
        {"ContentsSizeWraps",
         [this](ElfImage& e) { e.Put(e.SectionField(3, 20, 32), Word(), ~std::uint64_t(0)); }},
        {"ContentsShorterThanBlock", [this](ElfImage& e) { e.Put(e.SectionField(3, 20, 32), Word(), 40); }},
        {"ContentsEmpty", [this](ElfImage& e) { e.Put(e.SectionField(3, 20, 32), Word(), 0); }},
        {"UnknownClass", [](ElfImage& e) { e.bytes[4] = 3; }},
        {"UnknownByteOrder", [](ElfImage& e) { e.bytes[5] = 0; }},
        {"FileCutInTheTable", [](ElfImage& e) { e.bytes.resize(e.bytes.size() - e.entrySize / 2); }},
        {"FileCutInTheHeader", [](ElfImage& e) { e.bytes.resize(20); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ElfImage elf = Build();
        c.damage(elf);
        EXPECT_EQ(VersionOfImage(elf.bytes), std::nullopt);
    }
}

INSTANTIATE_TEST_SUITE_P(Version, ElfFile,
                         testing::Values(ElfKind{"Elf64Little", true, false}, ElfKind{"Elf64Big", true, true},
                                         ElfKind{"Elf32Little", false, false}, ElfKind{"Elf32Big", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ElfSection, ElfWithoutOurSectionIsNotReadAsABlock)
{
    // An ELF file is only ever searched for the section, never taken as a
    // bare block, even when a block sits at a section's place.
    ElfOptions options;
    options.sectionName = ".data";
    EXPECT_EQ(VersionOfImage(BuildElf(SimpleBlock("1.0"), options).bytes), std::nullopt);
}

} // namespace
