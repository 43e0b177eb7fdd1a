// Writing the version block: the node layout byte by byte, the record file's
// format and its errors.
#include "Exception.h"
#include "TestSupport.h"
#include "VersionBlock.h"
#include "VersionInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace gloxen::version;
using testsupport::Bytes;

namespace {

TEST(NodeLayout, KeyPaddingValueAndChildren)
{
    // Worked out by hand from the layout: 6-byte header, key and zero padded
    // to 4, value, each child on a multiple of 4, no trailing padding counted.
    const VersionNode node = ContainerNode(u"P", {TextNode(u"A", "xy"), BinaryNode(u"B", {1, 2, 3})});
    const Bytes expected = {
        47, 0, 0, 0, 1, 0, 'P', 0, 0, 0, 0, 0,                        // "P": 47 bytes, no value, text
        18, 0, 3, 0, 1, 0, 'A', 0, 0, 0, 0, 0, 'x', 0, 'y', 0, 0, 0,  // "A": "xy" is 3 units with its zero
        0, 0,                                                         // pad to 32
        15, 0, 3, 0, 0, 0, 'B', 0, 0, 0, 0, 0, 1, 2, 3,               // "B": 3 bytes, binary
    };
    EXPECT_EQ(SerializeVersionNode(node), expected);
}

TEST(NodeLayout, KeyOfOddUnitCountNeedsNoPadding)
{
    // 6 + "AB\0" (6) = 12: the value follows at once.
    const Bytes bytes = SerializeVersionNode(TextNode(u"AB", ""));
    const Bytes expected = {14, 0, 1, 0, 1, 0, 'A', 0, 'B', 0, 0, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
}

TEST(NodeLayout, TooLargeIsRefused)
{
    const auto message = [](auto&& call) {
        try {
            call();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([] { SerializeVersionNode(TextNode(u"A", std::string(40000, 'x'))); }),
              "The version node \"A\" is larger than 65535 bytes.");
    EXPECT_EQ(message([] { TextNode(u"A", "\xC3"); }), "The version text \"\xC3\" is not valid UTF-8.");
}

TEST(NodeLayout, FixedPartFields)
{
    VersionRecord record;
    record.fileVersion = {1, 2, 3, 4};
    record.productVersion = {5, 6, 7, 0xFFFF};
    record.fileFlagsMask = 0x3F;
    record.fileOS = 0x40004;
    record.fileType = 2;
    record.fileSubtype = 9;
    record.fileDate = 0x0000000100000002ull;
    const Bytes expected = {
        0xBD, 0x04, 0xEF, 0xFE, 0x00, 0x00, 0x01, 0x00,  // signature, structure version
        2, 0, 1, 0, 4, 0, 3, 0,                          // file version: MS = 1.2, LS = 3.4
        6, 0, 5, 0, 0xFF, 0xFF, 7, 0,                    // product version
        0x3F, 0, 0, 0, 0, 0, 0, 0,                       // flags mask, flags
        4, 0, 4, 0, 2, 0, 0, 0, 9, 0, 0, 0,              // OS, type, subtype
        1, 0, 0, 0, 2, 0, 0, 0,                          // date: high half first
    };
    EXPECT_EQ(FixedFileInfo(record), expected);
}

std::string ReadText(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Record, TheProgramsRecord)
{
    const VersionRecord record = ParseVersionRecord(ReadText(GLOXEN_VERSION_RECORD));
    EXPECT_EQ(record.fileVersion, (std::array<std::uint16_t, 4>{4, 2, 2, 2890}));
    EXPECT_EQ(record.productVersion, (std::array<std::uint16_t, 4>{4, 2, 2, 2890}));
    EXPECT_EQ(record.language, 0x0409);
    EXPECT_EQ(record.codePage, 1252);
    ASSERT_EQ(record.strings.size(), 10u);
    EXPECT_EQ(record.strings[0], (std::pair<std::string, std::string>{"CompanyName", "www.narvell.example"}));
    EXPECT_EQ(record.strings[3], (std::pair<std::string, std::string>{"InternalName", ""}));
    EXPECT_EQ(StringTableKey(record.language, record.codePage), u"040904E4");
}

TEST(Record, EmbeddedBlockIsBuiltFromTheRecord)
{
    // What this executable carries must be exactly what the record gives now.
    const Bytes built = BuildVersionBlock(ParseVersionRecord(ReadText(GLOXEN_VERSION_RECORD)));
    const std::uint32_t size = GetFileVersionInfoSizeA("/proc/self/exe", nullptr);
    ASSERT_EQ(size, 3 * built.size());
    Bytes loaded(size);
    ASSERT_TRUE(GetFileVersionInfoA("/proc/self/exe", 0, size, loaded.data()));
    loaded.resize(built.size());
    EXPECT_EQ(loaded, built);
}

const std::string kMinimal =
    "[Fixed]\nFileVersion = 1.2.3.4\nProductVersion = 1.2.3.4\nFileFlagsMask = 0x3F\nFileFlags = 0\n"
    "FileOS = 4\nFileType = 1\nFileSubtype = 0\nFileDate = 0\n"
    "[Translation]\nLanguage = 0x0407\nCodePage = 1200\n[Strings]\nFileVersion = 1.2.3.4\n";

TEST(Record, AcceptsCommentsBlanksAndCarriageReturns)
{
    std::string text = "# comment\n\n" + kMinimal + "Comments =   two words  \r\n";
    const VersionRecord record = ParseVersionRecord(text);
    EXPECT_EQ(record.language, 0x0407);
    EXPECT_EQ(record.codePage, 1200);
    ASSERT_EQ(record.strings.size(), 2u);
    EXPECT_EQ(record.strings[1].second, "two words");
}

TEST(Record, Errors)
{
    auto replaced = [](const std::string& from, const std::string& to) {
        std::string text = kMinimal;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        const char* name;
        std::string text;
        const char* message;
    } cases[] = {
        {"VersionWithThreeParts", replaced("FileVersion = 1.2.3.4", "FileVersion = 1.2.3"),
         R"(Version record line 2: "FileVersion" must be four numbers 0..65535 joined by dots.)"},
        {"VersionWithFiveParts", replaced("FileVersion = 1.2.3.4", "FileVersion = 1.2.3.4.5"),
         R"(Version record line 2: "FileVersion" must be four numbers 0..65535 joined by dots.)"},
        {"VersionPartTooLarge", replaced("FileVersion = 1.2.3.4", "FileVersion = 1.2.3.65536"),
         R"(Version record line 2: "FileVersion" must be four numbers 0..65535 joined by dots.)"},
        {"VersionPartNotDecimal", replaced("FileVersion = 1.2.3.4", "FileVersion = 1.2.3.0x4"),
         R"(Version record line 2: "FileVersion" must be four numbers 0..65535 joined by dots.)"},
        {"VersionPartEmpty", replaced("FileVersion = 1.2.3.4", "FileVersion = 1..3.4"),
         R"(Version record line 2: "FileVersion" must be four numbers 0..65535 joined by dots.)"},
        {"LanguageTooLarge", replaced("0x0407", "0x10000"),
         R"(Version record line 11: "Language" is not a number in range.)"},
        {"NumberWithJunk", replaced("FileOS = 4", "FileOS = 4x"),
         R"(Version record line 6: "FileOS" is not a number in range.)"},
        {"NegativeNumber", replaced("FileOS = 4", "FileOS = -4"),
         R"(Version record line 6: "FileOS" is not a number in range.)"},
        {"MissingField", replaced("FileType = 1\n", ""),
         R"(The version record has no "FileType".)"},
        {"RepeatedField", replaced("FileType = 1\n", "FileType = 1\nFileType = 1\n"),
         R"(Version record line 8: "FileType" given twice.)"},
        {"RepeatedString", kMinimal + "FileVersion = 2\n",
         R"(Version record line 15: "FileVersion" given twice.)"},
        {"UnknownField", replaced("FileType", "FileKind"),
         R"(Version record line 7: unknown name "FileKind".)"},
        {"FieldInWrongSection", replaced("Language = 0x0407", "FileSubtype2 = 0"),
         R"(Version record line 11: unknown name "FileSubtype2".)"},
        {"TranslationFieldInFixed", replaced("FileDate = 0\n", "FileDate = 0\nLanguage = 1\n"),
         R"(Version record line 10: unknown name "Language".)"},
        {"UnknownSection", replaced("[Strings]", "[Other]"),
         R"(Version record line 13: unknown section [Other].)"},
        {"OutsideASection", "FileVersion = 1.2.3.4\n" + kMinimal,
         R"(Version record line 1: "FileVersion" outside a section.)"},
        {"NoEqualsSign", kMinimal + "Comments\n",
         R"(Version record line 15: expected "Name = value".)"},
        {"InvalidUtf8", kMinimal + "Comments = \xFF\n",
         R"(Version record line 15: text is not valid UTF-8.)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ParseVersionRecord(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(Record, ErrorNamesTheLine)
{
    try {
        ParseVersionRecord("[Fixed]\n\nFileOS = four\n");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("line 3"), std::string::npos) << e.Message();
    }
}

} // namespace
