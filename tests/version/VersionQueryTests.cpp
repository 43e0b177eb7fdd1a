// The version calls on their own: the program's block as embedded in this
// executable, the walk by query path, text conversion and the buffer contract.
#include "TestSupport.h"
#include "VersionInfo.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;

namespace {

// A filled buffer as GetFileVersionInfoA leaves it.
Bytes Loaded(const std::string& path)
{
    std::uint32_t handle = 7;
    const std::uint32_t size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    Bytes buffer(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), handle, size, buffer.data()))
        ADD_FAILURE() << "no version block in " << path;
    return buffer;
}

Bytes LoadedBlock(const Bytes& block)
{
    const std::uint32_t size = VersionInfoSizeFromImage(block.data(), block.size());
    Bytes buffer(size);
    if (size == 0 || !VersionInfoFromImage(block.data(), block.size(), size, buffer.data()))
        ADD_FAILURE() << "block not accepted";
    return buffer;
}

std::uint32_t U32(const void* p, std::size_t index)
{
    const auto* b = static_cast<const unsigned char*>(p) + 4 * index;
    return b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
}

class OwnBlock : public testing::Test {
protected:
    Bytes buffer = Loaded("/proc/self/exe");
};

TEST_F(OwnBlock, FixedPart)
{
    void* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\", &value, &length));
    ASSERT_EQ(length, 52u);
    const std::uint32_t expected[13] = {
        0xFEEF04BD, 0x00010000,     // signature, structure version
        0x00040002, 0x00020B4A,     // file version 4.2 . 2.2890
        0x00040002, 0x00020B4A,     // product version
        0x3F, 0, 4, 1, 0,           // flags mask, flags, OS, type, subtype
        0, 0,                       // date
    };
    for (std::size_t i = 0; i < 13; ++i)
        EXPECT_EQ(U32(value, i), expected[i]) << "field " << i;
}

TEST_F(OwnBlock, Translation)
{
    void* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(U32(value, 0), 0x04E40409u);
}

TEST_F(OwnBlock, Strings)
{
    const struct {
        const char* key;
        const char* text;
    } cases[] = {
        {"CompanyName", "www.narvell.example"},
        {"FileDescription", "Narvell Gloxen"},
        {"FileVersion", "4.2.2.2890"},
        {"ProductName", "Narvell Gloxen"},
        {"ProductVersion", "4.0.0.0"},
        {"InternalName", ""},
        {"LegalCopyright", ""},
        {"LegalTrademarks", ""},
        {"OriginalFilename", ""},
        {"Comments", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        void* value = nullptr;
        std::uint32_t length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904E4\\") + c.key;
        ASSERT_TRUE(VerQueryValueA(buffer.data(), path.c_str(), &value, &length));
        EXPECT_STREQ(static_cast<const char*>(value), c.text);
        EXPECT_EQ(length, std::strlen(c.text) + 1);
    }
}

TEST_F(OwnBlock, PathsThatAreNotThere)
{
    for (const char* path : {"\\StringFileInfo\\040904E4\\Version", "\\StringFileInfo\\040904B0\\FileVersion",
                             "\\StringFileInfo\\040904E4\\FileVersion\\More", "\\Translation",
                             "\\StringFileInfo\\040904E4\\FileVersio", "\\StringFileInfo\\040904E4\\FileVersionX",
                             "\\StringFileInfo\\\xFF"}) {
        SCOPED_TRACE(path);
        void* value = reinterpret_cast<void*>(1);
        std::uint32_t length = 99;
        EXPECT_FALSE(VerQueryValueA(buffer.data(), path, &value, &length));
        EXPECT_EQ(value, reinterpret_cast<void*>(1));
        EXPECT_EQ(length, 99u);
    }
}

TEST_F(OwnBlock, RepeatedSeparatorsAreSkipped)
{
    void* value = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "VarFileInfo\\\\Translation\\", &value, &length));
    EXPECT_EQ(length, 4u);
}

TEST_F(OwnBlock, EarlierTextsSurviveLaterQueries)
{
    void* company = nullptr;
    void* product = nullptr;
    std::uint32_t length = 0;
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\StringFileInfo\\040904E4\\CompanyName", &company, &length));
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\StringFileInfo\\040904E4\\ProductName", &product, nullptr));
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\StringFileInfo\\040904E4\\FileVersion", &product, nullptr));
    EXPECT_STREQ(static_cast<const char*>(company), "www.narvell.example");
}

TEST_F(OwnBlock, TextCopiesStayInsideTheBuffer)
{
    for (const char* key : {"CompanyName", "Comments", "FileVersion"}) {
        void* value = nullptr;
        std::uint32_t length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904E4\\") + key;
        ASSERT_TRUE(VerQueryValueA(buffer.data(), path.c_str(), &value, &length));
        const auto* p = static_cast<const std::uint8_t*>(value);
        EXPECT_GE(p, buffer.data());
        EXPECT_LE(p + length, buffer.data() + buffer.size());
    }
}

TEST(Query, EmptyPathOrRootGivesTheFixedPart)
{
    const Bytes buffer = LoadedBlock(SimpleBlock("1.0"));
    for (const char* path : {"", "\\", "\\\\"}) {
        void* value = nullptr;
        std::uint32_t length = 0;
        ASSERT_TRUE(VerQueryValueA(buffer.data(), path, &value, &length)) << path;
        EXPECT_EQ(length, 52u);
        EXPECT_EQ(U32(value, 0), 0xFEEF04BDu);
    }
}

TEST(Query, TextConversion)
{
    struct Case {
        const char* name;
        std::vector<std::uint16_t> units;  // the value's UTF-16 units as stored
        std::string expected;
    };
    const Case cases[] = {
        {"Ascii", {'1', '.', '0', 0}, "1.0"},
        {"TwoAndThreeByteForms", {0xE9, ' ', 0x65E5, 0}, "\xC3\xA9 \xE6\x97\xA5"},
        {"SurrogatePair", {0xD83D, 0xDE00, 0}, "\xF0\x9F\x98\x80"},
        {"LoneSurrogate", {0xD800, 'a', 0}, "\xEF\xBF\xBD" "a"},
        {"StopsAtFirstZero", {'a', 0, 'b', 0}, "a"},
        {"NoTerminatorStored", {'a', 'b'}, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gloxen::version::VersionNode text{u"FileVersion", true, {}, {}};
        for (std::uint16_t u : c.units) {
            text.value.push_back(std::uint8_t(u));
            text.value.push_back(std::uint8_t(u >> 8));
        }
        const Bytes buffer = LoadedBlock(Block({StringFileInfo({gloxen::version::ContainerNode(u"T", {text})})}));
        void* value = nullptr;
        std::uint32_t length = 0;
        ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\StringFileInfo\\T\\FileVersion", &value, &length));
        EXPECT_EQ(std::string(static_cast<const char*>(value)), c.expected);
        EXPECT_EQ(length, c.expected.size() + 1);
    }
}

TEST(Query, ValueLengthShorterThanTheStoredText)
{
    Bytes block = SimpleBlock("abcdef");
    Put16(block, NodeOffset(block, u"FileVersion") + 2, 3);  // wValueLength: "abc" without its zero
    const Bytes buffer = LoadedBlock(block);
    void* value = nullptr;
    ASSERT_TRUE(VerQueryValueA(buffer.data(), "\\StringFileInfo\\040904E4\\FileVersion", &value, nullptr));
    EXPECT_STREQ(static_cast<const char*>(value), "abc");
}

TEST(Query, RejectsNullArguments)
{
    const Bytes buffer = LoadedBlock(SimpleBlock("1.0"));
    void* value = nullptr;
    std::uint32_t length = 0;
    EXPECT_FALSE(VerQueryValueA(nullptr, "\\", &value, &length));
    EXPECT_FALSE(VerQueryValueA(buffer.data(), nullptr, &value, &length));
    EXPECT_FALSE(VerQueryValueA(buffer.data(), "\\", nullptr, &length));
}

TEST(Fill, NeedsTheWholeReportedSize)
{
    const TempDir dir;
    const Bytes block = SimpleBlock("1.0");
    const std::string path = dir.Write("block.bin", block);
    const std::uint32_t size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_EQ(size, 3 * block.size());

    Bytes buffer(size, 0xAA);
    EXPECT_FALSE(GetFileVersionInfoA(path.c_str(), 0, size - 1, buffer.data()));
    EXPECT_FALSE(GetFileVersionInfoA(path.c_str(), 0, size, nullptr));
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, buffer.data()));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + long(block.size()), buffer.end(), [](auto b) { return b == 0; }));
}

TEST(Fill, BareBlockMayBeFollowedByOtherBytes)
{
    const TempDir dir;
    Bytes file = SimpleBlock("1.0");
    const std::size_t blockBytes = file.size();
    file.insert(file.end(), 100, 0x5A);
    const std::string path = dir.Write("block.bin", file);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 3 * blockBytes);
}

} // namespace
