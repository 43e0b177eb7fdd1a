#include "VersionInfo.h"

#include "ByteSource.h"
#include "ElfSection.h"
#include "Utf16.h"
#include "VersionBlock.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace gloxen::version;

namespace {

constexpr std::size_t kNodeHeaderBytes = 6;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";

std::uint16_t Get16(const unsigned char* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

constexpr std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t(3); }

// One node of a block, as offsets from the block's start. Filled only by
// ParseNode, which has checked that everything lies inside the parent.
struct Node {
    std::size_t start = 0;
    std::size_t end = 0;        // start + wLength
    std::size_t keyUnits = 0;   // key length without its terminator
    std::size_t value = 0;      // offset of the value
    std::size_t valueBytes = 0;
    std::size_t valueUnits = 0; // wValueLength for text values
    bool text = false;
    std::size_t children = 0;   // offset of the first child
};

// Reads the node at `start` of `block`, which must end by `limit`. False
// when the header, the key, or the value would reach past the node, or the
// node past `limit`.
bool ParseNode(const unsigned char* block, std::size_t start, std::size_t limit, Node& node)
{
    if (start > limit || limit - start < kNodeHeaderBytes)
        return false;
    const std::size_t length = Get16(block + start);
    if (length < kNodeHeaderBytes + 2 || length > limit - start)
        return false;
    node.start = start;
    node.end = start + length;
    const std::size_t valueLength = Get16(block + start + 2);
    node.text = Get16(block + start + 4) == 1;

    std::size_t at = start + kNodeHeaderBytes;
    node.keyUnits = 0;
    for (;;) {
        if (node.end - at < 2)
            return false;  // key runs off the node without a terminator
        if (Get16(block + at) == 0)
            break;
        at += 2;
        ++node.keyUnits;
    }
    node.value = Align4(at + 2);
    node.valueUnits = node.text ? valueLength : 0;
    node.valueBytes = node.text ? valueLength * 2 : valueLength;
    if (node.valueBytes == 0) {
        // Some writers stop the node right after the key, before any padding.
        node.value = std::min(node.value, node.end);
    } else if (node.value > node.end || node.valueBytes > node.end - node.value) {
        return false;
    }
    node.children = Align4(node.value + node.valueBytes);
    return true;
}

bool KeyEquals(const unsigned char* block, const Node& node, std::u16string_view key)
{
    if (node.keyUnits != key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (FoldAscii(Get16(block + node.start + kNodeHeaderBytes + 2 * i)) != FoldAscii(key[i]))
            return false;
    }
    return true;
}

// The child of `parent` whose key is `key`; false when there is none or a
// child before it is malformed.
bool FindChild(const unsigned char* block, const Node& parent, std::u16string_view key, Node& found)
{
    std::size_t at = parent.children;
    while (at < parent.end) {
        Node child;
        if (!ParseNode(block, at, parent.end, child))
            return false;
        if (KeyEquals(block, child, key)) {
            found = child;
            return true;
        }
        at = Align4(child.end);
    }
    return false;
}

// The root node of a block whose first `available` bytes are known to be
// readable: it must be a VS_VERSION_INFO node that fits.
std::optional<Node> ParseRoot(const unsigned char* block, std::size_t available)
{
    Node root;
    if (!ParseNode(block, 0, available, root) || !KeyEquals(block, root, kRootKey))
        return std::nullopt;
    return root;
}

// The block of a file or image: the whole of it when it starts with a
// version node, or the contents of our ELF section.
std::optional<std::vector<unsigned char>> LoadBlock(const ByteSource& source)
{
    FileRange range{0, source.Size()};
    if (LooksLikeElf(source)) {
        const auto section = FindElfSection(source, kVersionSectionName);
        if (!section)
            return std::nullopt;
        range = *section;
    }
    unsigned char head[2];
    if (range.size < kNodeHeaderBytes || !source.ReadAt(range.offset, head, 2))
        return std::nullopt;
    const std::size_t length = Get16(head);
    if (length > range.size)
        return std::nullopt;
    std::vector<unsigned char> block(length);
    if (!source.ReadAt(range.offset, block.data(), length) || !ParseRoot(block.data(), length))
        return std::nullopt;
    return block;
}

// The room for narrow copies: twice the block, placed right after it. A text
// at block offset v (a multiple of 4) of n units goes to room offset v / 2 * 3,
// which keeps every copy apart from the others and, since v + 2n <= wLength,
// inside 1.5 x wLength + 1 bytes.
std::uint32_t BufferBytes(std::size_t blockBytes)
{
    return std::uint32_t(blockBytes * 3);
}

std::uint32_t SizeOf(const ByteSource& source)
{
    const auto block = LoadBlock(source);
    return block ? BufferBytes(block->size()) : 0;
}

int Fill(const ByteSource& source, std::uint32_t size, void* out)
{
    if (out == nullptr)
        return 0;
    const auto block = LoadBlock(source);
    if (!block || size < BufferBytes(block->size()))
        return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    std::memcpy(bytes, block->data(), block->size());
    std::memset(bytes + block->size(), 0, size - block->size());
    return 1;
}

} // namespace

std::uint32_t GetFileVersionInfoSizeA(const char* path, std::uint32_t* handle)
{
    if (handle != nullptr)
        *handle = 0;
    return SizeOf(FileSource(path));
}

int GetFileVersionInfoA(const char* path, std::uint32_t /*handle*/, std::uint32_t size, void* block)
{
    return Fill(FileSource(path), size, block);
}

std::uint32_t VersionInfoSizeFromImage(const void* data, std::size_t size)
{
    if (data == nullptr)
        return 0;
    return SizeOf(MemorySource(data, size));
}

int VersionInfoFromImage(const void* data, std::size_t size, std::uint32_t bufferSize, void* block)
{
    if (data == nullptr)
        return 0;
    return Fill(MemorySource(data, size), bufferSize, block);
}

int VerQueryValueA(const void* block, const char* subBlock, void** buffer, std::uint32_t* length)
{
    if (block == nullptr || subBlock == nullptr || buffer == nullptr)
        return 0;
    // The platform call takes the block as const and still writes its narrow
    // copies after it; the caller's buffer is writable by contract.
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(block));
    const std::size_t blockBytes = Get16(bytes);
    const auto root = ParseRoot(bytes, blockBytes);
    if (!root)
        return 0;

    Node node = *root;
    std::string_view path(subBlock);
    while (!path.empty()) {
        const std::size_t sep = path.find('\\');
        const std::string_view part = path.substr(0, sep);
        path.remove_prefix(sep == std::string_view::npos ? path.size() : sep + 1);
        if (part.empty())
            continue;
        const auto key = Utf8ToUtf16(part);
        if (!key || !FindChild(bytes, node, *key, node))
            return 0;
    }

    if (!node.text) {
        *buffer = bytes + node.value;
        if (length != nullptr)
            *length = std::uint32_t(node.valueBytes);
        return 1;
    }
    std::size_t units = 0;
    while (units < node.valueUnits && Get16(bytes + node.value + 2 * units) != 0)
        ++units;
    const std::size_t roomBytes = 2 * blockBytes;
    const std::size_t copyAt = node.value / 2 * 3;
    if (copyAt > roomBytes || MaxUtf8Bytes(units) + 1 > roomBytes - copyAt)
        return 0;  // cannot happen for a node that parsed; kept as a guard
    char* copy = reinterpret_cast<char*>(bytes + blockBytes + copyAt);
    const std::size_t written = Utf16LeToUtf8(bytes + node.value, units, copy);
    copy[written] = '\0';
    *buffer = copy;
    if (length != nullptr)
        *length = node.valueUnits == 0 ? 0 : std::uint32_t(written + 1);
    return 1;
}
