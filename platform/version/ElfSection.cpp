#include "ElfSection.h"

#include <array>
#include <vector>

namespace gloxen::version {
namespace {

// Field offsets in the ELF file header and section header, per class.
struct ElfLayout {
    std::size_t headerBytes;   // size of the file header
    std::size_t shoffAt;       // e_shoff
    std::size_t shentsizeAt;   // e_shentsize
    std::size_t shnumAt;       // e_shnum
    std::size_t shstrndxAt;    // e_shstrndx
    std::size_t wordBytes;     // size of an address / offset field
    std::size_t sectionBytes;  // smallest valid e_shentsize
    std::size_t shTypeAt, shOffsetAt, shSizeAt, shLinkAt;
};

constexpr ElfLayout kElf32{52, 0x20, 0x2E, 0x30, 0x32, 4, 40, 0x04, 0x10, 0x14, 0x18};
constexpr ElfLayout kElf64{64, 0x28, 0x3A, 0x3C, 0x3E, 8, 64, 0x04, 0x18, 0x20, 0x28};

constexpr std::uint32_t kShtNobits = 8;
constexpr std::uint16_t kShnXindex = 0xFFFF;
// Beyond this many sections the file is not one of ours; it also bounds the
// work a hostile header can ask for.
constexpr std::uint64_t kMaxSections = 1u << 20;

class Reader {
public:
    Reader(const unsigned char* bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}
    std::uint64_t Get(std::size_t at, std::size_t width) const
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint64_t b = bytes_[at + i];
            v |= big_ ? b << (8 * (width - 1 - i)) : b << (8 * i);
        }
        return v;
    }

private:
    const unsigned char* bytes_;
    bool big_;
};

struct Section {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint32_t link = 0;
};

} // namespace

bool LooksLikeElf(const ByteSource& source)
{
    unsigned char magic[4];
    return source.ReadAt(0, magic, 4) && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

std::optional<FileRange> FindElfSection(const ByteSource& source, std::string_view name)
{
    std::array<unsigned char, 64> header{};
    if (!source.ReadAt(0, header.data(), 16) || !LooksLikeElf(source))
        return std::nullopt;
    const unsigned char elfClass = header[4];
    const unsigned char elfData = header[5];
    if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2))
        return std::nullopt;
    const ElfLayout& L = elfClass == 1 ? kElf32 : kElf64;
    if (!source.ReadAt(0, header.data(), L.headerBytes))
        return std::nullopt;
    const Reader file(header.data(), elfData == 2);

    const std::uint64_t shoff = file.Get(L.shoffAt, L.wordBytes);
    const std::uint64_t shentsize = file.Get(L.shentsizeAt, 2);
    std::uint64_t shnum = file.Get(L.shnumAt, 2);
    std::uint64_t shstrndx = file.Get(L.shstrndxAt, 2);
    if (shoff == 0 || shentsize < L.sectionBytes)
        return std::nullopt;

    std::vector<unsigned char> entry(L.sectionBytes);
    auto readSection = [&](std::uint64_t index, Section& s) {
        // index < kMaxSections and shentsize <= 0xFFFF: the product cannot wrap.
        const std::uint64_t rel = index * shentsize;
        if (rel > UINT64_MAX - shoff || !source.ReadAt(shoff + rel, entry.data(), entry.size()))
            return false;
        const Reader r(entry.data(), elfData == 2);
        s.name = std::uint32_t(r.Get(0, 4));
        s.type = std::uint32_t(r.Get(L.shTypeAt, 4));
        s.offset = r.Get(L.shOffsetAt, L.wordBytes);
        s.size = r.Get(L.shSizeAt, L.wordBytes);
        s.link = std::uint32_t(r.Get(L.shLinkAt, 4));
        return true;
    };

    // Files with 0xFF00 or more sections keep the real count and string-table
    // index in section 0.
    if (shnum == 0 || shstrndx == kShnXindex) {
        Section first;
        if (!readSection(0, first))
            return std::nullopt;
        if (shnum == 0)
            shnum = first.size;
        if (shstrndx == kShnXindex)
            shstrndx = first.link;
    }
    if (shnum == 0 || shnum > kMaxSections || shstrndx >= shnum)
        return std::nullopt;
    // The whole table must lie in the file.
    const std::uint64_t tableBytes = shnum * shentsize;
    if (shoff > source.Size() || tableBytes > source.Size() - shoff)
        return std::nullopt;

    Section names;
    if (!readSection(shstrndx, names) || names.type == kShtNobits)
        return std::nullopt;
    if (names.offset > source.Size() || names.size > source.Size() - names.offset)
        return std::nullopt;

    std::vector<char> candidate(name.size() + 1);
    for (std::uint64_t i = 0; i < shnum; ++i) {
        Section s;
        if (!readSection(i, s))
            return std::nullopt;
        // The name plus its terminator must lie inside the string table.
        if (s.name >= names.size || names.size - s.name < candidate.size())
            continue;
        if (!source.ReadAt(names.offset + s.name, candidate.data(), candidate.size()))
            return std::nullopt;
        if (candidate.back() != '\0' || std::string_view(candidate.data(), name.size()) != name)
            continue;
        if (s.type == kShtNobits)
            continue;
        if (s.offset > source.Size() || s.size > source.Size() - s.offset)
            return std::nullopt;
        return FileRange{s.offset, s.size};
    }
    return std::nullopt;
}

} // namespace gloxen::version
