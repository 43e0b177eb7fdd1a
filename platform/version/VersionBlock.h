#pragma once
// Writing the Windows version-information block (VS_VERSIONINFO).
//
// The block is a tree of nodes. Each node is, little-endian:
//   uint16 wLength       bytes of this node, from wLength to the end of its
//                        last child (or of its value); trailing padding is not
//                        counted
//   uint16 wValueLength  value size: UTF-16 units including the terminating
//                        zero for text values (wType 1), bytes otherwise
//   uint16 wType         1 text, 0 binary
//   UTF-16 key, zero-terminated, then zero bytes up to a multiple of 4
//   the value, then zero bytes up to a multiple of 4 when children follow
//   the children, each starting on a multiple of 4
// Offsets are counted from the start of the block, which is itself 4-aligned.
// The root is "VS_VERSION_INFO" with the 52-byte VS_FIXEDFILEINFO as value,
// then "StringFileInfo" > one string table (key: language and code page as
// 8 hex digits) > the strings, and "VarFileInfo" > "Translation" (pairs of
// uint16 language, uint16 code page).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gloxen::version {

// Largest block a 16-bit wLength can describe.
inline constexpr std::size_t kMaxBlockBytes = 0xFFFF;

inline constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
inline constexpr std::uint32_t kFixedInfoStructVersion = 0x00010000;
inline constexpr std::size_t kFixedInfoBytes = 52;

struct VersionNode {
    std::u16string key;
    bool text = false;                // wType: 1 when true
    std::vector<std::uint8_t> value;  // raw bytes; for text, UTF-16LE units
    std::vector<VersionNode> children;
};

// A text node whose value is `utf8` in UTF-16 with its terminating zero.
// Throws Exception when `utf8` is not valid UTF-8.
VersionNode TextNode(std::u16string key, std::string_view utf8);
VersionNode BinaryNode(std::u16string key, std::vector<std::uint8_t> bytes);
// A container: a text-typed node with no value, as resource compilers write
// "StringFileInfo", string tables and "VarFileInfo".
VersionNode ContainerNode(std::u16string key, std::vector<VersionNode> children);

// The node and its children laid out as above. Throws Exception when a node
// or a value does not fit the 16-bit lengths.
std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node);

// The values of a version record, as read from resources/version/version.txt.
struct VersionRecord {
    std::array<std::uint16_t, 4> fileVersion{};
    std::array<std::uint16_t, 4> productVersion{};
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint64_t fileDate = 0;
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    // Name and value in the order they appear, both UTF-8.
    std::vector<std::pair<std::string, std::string>> strings;
};

// Reads the record's text format (sections [Fixed], [Translation], [Strings]
// of "Name = value" lines). Throws Exception naming the line on any unknown,
// repeated, missing or malformed entry.
VersionRecord ParseVersionRecord(std::string_view text);

// The 52 bytes of VS_FIXEDFILEINFO for `record`.
std::vector<std::uint8_t> FixedFileInfo(const VersionRecord& record);

// The string table's key: language and code page as 8 upper-case hex digits.
std::u16string StringTableKey(std::uint16_t language, std::uint16_t codePage);

// The whole block for `record`.
VersionNode VersionTree(const VersionRecord& record);
std::vector<std::uint8_t> BuildVersionBlock(const VersionRecord& record);

} // namespace gloxen::version
