// The version helpers: which string table they look in, what they make of
// long values and broken files, and how the short form is cut.
#include "Libfunc.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/stat.h>

using namespace testsupport;

namespace {

std::optional<std::string> VersionOf(const std::string& path)
{
    const char* found = GetFileVersionString(path.c_str());
    return found ? std::optional<std::string>(found) : std::nullopt;
}

TEST(OwnVersion, ReadFromThisExecutable)
{
    for (const std::string& path : {std::string("/proc/self/exe"), OwnExecutable()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(VersionOf(path), "4.2.2.2890");
        EXPECT_EQ(GetShortVersion(path), "4.2.2");
    }
}

TEST(OwnVersion, DoesNotDependOnTheUserLanguage)
{
    // The one translation entry decides the table, whatever the locale says.
    const ScopedLocale locale("ja_JP.UTF-8");
    EXPECT_EQ(VersionOf("/proc/self/exe"), "4.2.2.2890");
}

struct LookupCase {
    const char* name;
    const char* locale;
    std::function<Bytes()> block;
    std::optional<std::string> expected;
};

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheRightTable)
{
    const LookupCase& c = GetParam();
    const ScopedLocale locale(c.locale);
    const TempDir dir;
    const std::string path = dir.Write("block.bin", c.block());
    EXPECT_EQ(VersionOf(path), c.expected);
    if (!c.expected) {
        EXPECT_EQ(GetShortVersion(path), "");
    }
}

const LookupCase kLookupCases[] = {
    {"OneTranslation", "de_DE",
     [] { return SimpleBlock("1.2.3.4"); }, "1.2.3.4"},
    {"KeyIsLanguageThenCodePage", "en_US",
     [] {
         return Block({StringFileInfo({StringTable("0C0703A4", {{"FileVersion", "9.8"}})}),
                       Translations({{0x0C07, 932}})});
     },
     "9.8"},
    {"ListedTableMissing", "de_DE",
     [] {
         return Block({StringFileInfo({StringTable("040704E4", {{"FileVersion", "1.0"}})}),
                       Translations({{0x0409, 1252}})});
     },
     std::nullopt},
    {"TwoTranslationsUserTableMissing", "de_DE",
     [] {
         return Block({StringFileInfo({StringTable("040904E4", {{"FileVersion", "1.0"}}),
                                       StringTable("040704E4", {{"FileVersion", "2.0"}})}),
                       Translations({{0x0409, 1252}, {0x0407, 1252}})});
     },
     std::nullopt},
    {"TwoTranslationsUserTableWithUnicode", "de_DE.UTF-8",
     [] {
         return Block({StringFileInfo({StringTable("040904E4", {{"FileVersion", "1.0"}}),
                                       StringTable("040704B0", {{"FileVersion", "2.0"}})}),
                       Translations({{0x0409, 1252}, {0x0407, 1252}})});
     },
     "2.0"},
    {"NoTranslationsUseUserLanguage", "ja_JP.UTF-8",
     [] { return Block({StringFileInfo({StringTable("041104B0", {{"FileVersion", "3.0"}})})}); }, "3.0"},
    {"CLocaleMeansEnglish", "C",
     [] { return Block({StringFileInfo({StringTable("040904B0", {{"FileVersion", "3.1"}})})}); }, "3.1"},
    {"ShortTranslationIgnored", "de_DE",
     [] {
         auto vars = gloxen::version::ContainerNode(u"VarFileInfo",
                                                    {gloxen::version::BinaryNode(u"Translation", {0x09, 0x04})});
         return Block({StringFileInfo({StringTable("040904E4", {{"FileVersion", "1.0"}}),
                                       StringTable("040704B0", {{"FileVersion", "2.0"}})}),
                       vars});
     },
     "2.0"},
    {"NoFileVersion", "en_US",
     [] {
         return Block({StringFileInfo({StringTable("040904E4", {{"ProductVersion", "1.0"}}) }),
                       Translations({{0x0409, 1252}})});
     },
     std::nullopt},
    {"NoStringFileInfo", "en_US", [] { return Block({Translations({{0x0409, 1252}})}); }, std::nullopt},
    {"EmptyFileVersion", "en_US", [] { return SimpleBlock(""); }, ""},
    {"KeysInAnyCase", "en_US",
     [] {
         auto strings = gloxen::version::ContainerNode(u"stringfileinfo",
                                                       {StringTable("040904e4", {{"fileversion", "5.6"}})});
         auto vars = gloxen::version::ContainerNode(
             u"VARFILEINFO", {gloxen::version::BinaryNode(u"translation", {0x09, 0x04, 0xE4, 0x04})});
         return Block({strings, vars});
     },
     "5.6"},
    {"NonAsciiValue", "en_US", [] { return SimpleBlock("v2 \xC3\xA9t\xC3\xA9 \xE6\x97\xA5"); },
     "v2 \xC3\xA9t\xC3\xA9 \xE6\x97\xA5"},
};

INSTANTIATE_TEST_SUITE_P(Version, Lookup, testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The reported length counts the terminating zero, so a value of 255
// characters reports 256 and is cut like every longer one.
struct LengthCase {
    std::string value;
    std::string expected;
};

class LongValue : public testing::TestWithParam<LengthCase> {};

TEST_P(LongValue, IsCutAt250Bytes)
{
    const TempDir dir;
    const std::string path = dir.Write("block.bin", SimpleBlock(GetParam().value));
    EXPECT_EQ(VersionOf(path), GetParam().expected);
}

std::string Digits(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(char('0' + i % 10));
    return s;
}

std::string Repeat(const std::string& unit, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += unit;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Version, LongValue,
    testing::Values(LengthCase{Digits(254), Digits(254)}, LengthCase{Digits(255), Digits(250)},
                    LengthCase{Digits(256), Digits(250)}, LengthCase{Digits(1000), Digits(250)},
                    // A cut through a two-byte character drops it; one that ends
                    // on a character boundary keeps all 250 bytes.
                    LengthCase{"a" + Repeat("\xC3\xA9", 130), "a" + Repeat("\xC3\xA9", 124)},
                    LengthCase{"ab" + Repeat("\xC3\xA9", 130), "ab" + Repeat("\xC3\xA9", 124)}));

TEST(VersionBuffer, IsReusedByTheNextCall)
{
    const TempDir dir;
    const std::string first = dir.Write("a.bin", SimpleBlock(Digits(300)));
    const std::string second = dir.Write("b.bin", SimpleBlock("1.0"));
    const char* a = GetFileVersionString(first.c_str());
    ASSERT_NE(a, nullptr);
    const char* b = GetFileVersionString(second.c_str());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(b, "1.0");
}

// Files that carry no usable version: each must give null, not a crash.
struct BrokenCase {
    const char* name;
    std::function<Bytes()> bytes;
};

class BrokenFile : public testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenFile, GivesNoVersion)
{
    const TempDir dir;
    const std::string path = dir.Write("file.bin", GetParam().bytes());
    EXPECT_EQ(VersionOf(path), std::nullopt);
    EXPECT_EQ(GetShortVersion(path), "");
}

Bytes Patched(const std::u16string& key, std::size_t field, std::uint16_t value)
{
    Bytes block = SimpleBlock("1.2.3.4");
    Put16(block, NodeOffset(block, key) + field, value);
    return block;
}

const BrokenCase kBrokenCases[] = {
    {"Empty", [] { return Bytes{}; }},
    {"PlainText", [] { const std::string s = "just some text\n"; return Bytes(s.begin(), s.end()); }},
    {"TruncatedBlock", [] { Bytes b = SimpleBlock("1.2.3.4"); b.resize(b.size() / 2); return b; }},
    {"HeaderOnly", [] { Bytes b = SimpleBlock("1.2.3.4"); b.resize(6); return b; }},
    {"RootLongerThanFile", [] { return Patched(u"VS_VERSION_INFO", 0, 0xFFFF); }},
    {"RootKeyWrong", [] { Bytes b = SimpleBlock("1.2.3.4"); b[6] = 'W'; return b; }},
    {"RootKeyUnterminated",
     [] { return Bytes{8, 0, 0, 0, 0, 0, 'V', 0}; }},
    {"ValueOutsideNode", [] { return Patched(u"FileVersion", 2, 0x4000); }},
    {"TableLongerThanParent", [] { return Patched(u"040904E4", 0, 0x2000); }},
    {"StringLongerThanTable", [] { return Patched(u"FileVersion", 0, 0x0400); }},
    {"ZeroLengthString", [] { return Patched(u"CompanyName", 0, 0); }},
    {"StringShorterThanItsKey", [] { return Patched(u"CompanyName", 0, 10); }},
    {"FixedPartOutsideRoot", [] { return Patched(u"VS_VERSION_INFO", 2, 0x8000); }},
};

INSTANTIATE_TEST_SUITE_P(Version, BrokenFile, testing::ValuesIn(kBrokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(NoVersion, PathsWithoutAReadableFile)
{
    const TempDir dir;
    const std::string pipe = dir.Path() + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path :
         {std::string(), dir.Path(), dir.Path() + "/missing.exe", std::string("/dev/null"), pipe}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFileVersionString(path.c_str()), nullptr);
        EXPECT_EQ(GetShortVersion(path), "");
    }
}

TEST(LastCharPos, FindsTheLastOccurrence)
{
    const struct {
        std::string text;
        char c;
        int expected;
    } cases[] = {
        {"", '.', 0},       {"a.b.c", '.', 4}, {"abc", '.', 0},  {".", '.', 1},
        {"4.2.2.", '.', 6}, {"x", 'x', 1},     {std::string("a\0.b", 4), '.', 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(LastCharPos(c.text, c.c), c.expected);
    }
}

TEST(ShortVersion, DropsTheLastComponent)
{
    const struct {
        std::string version;
        std::string expected;
    } cases[] = {
        {"4.2.2.2890", "4.2.2"}, {"1.0", "1"}, {"7", "7"},          {"4.2.2.", "4.2.2"},
        {".5", ""},              {"", ""},     {"1.0 beta", "1"},   {"a..b", "a."},
    };
    const TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(GetShortVersion(dir.Write("v.bin", SimpleBlock(c.version))), c.expected);
    }
}

} // namespace
