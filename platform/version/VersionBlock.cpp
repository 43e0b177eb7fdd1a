#include "VersionBlock.h"

#include "Exception.h"
#include "Utf16.h"

#include <charconv>
#include <cstdio>
#include <map>

namespace gloxen::version {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void PadTo4(std::vector<std::uint8_t>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

std::string Narrow(const std::u16string& key)
{
    std::string s;
    for (char16_t c : key)
        s.push_back(c < 0x80 ? char(c) : '?');
    return s;
}

// Appends `node` at the end of `out`, which must be 4-aligned.
void Append(std::vector<std::uint8_t>& out, const VersionNode& node)
{
    const std::size_t start = out.size();
    if (node.text && node.value.size() % 2 != 0)
        throw Exception("The version text \"" + Narrow(node.key) + "\" has an odd number of bytes.");
    const std::size_t valueLength = node.text ? node.value.size() / 2 : node.value.size();
    if (valueLength > 0xFFFF)
        throw Exception("The version value \"" + Narrow(node.key) + "\" is too long.");
    Put16(out, 0);  // wLength, set below
    Put16(out, std::uint32_t(valueLength));
    Put16(out, node.text ? 1 : 0);
    for (char16_t c : node.key)
        Put16(out, c);
    Put16(out, 0);
    PadTo4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        PadTo4(out);
        Append(out, child);
    }
    const std::size_t length = out.size() - start;
    if (length > kMaxBlockBytes)
        throw Exception("The version node \"" + Narrow(node.key) + "\" is larger than 65535 bytes.");
    out[start] = std::uint8_t(length);
    out[start + 1] = std::uint8_t(length >> 8);
}

} // namespace

VersionNode TextNode(std::u16string key, std::string_view utf8)
{
    const auto units = Utf8ToUtf16(utf8);
    if (!units)
        throw Exception("The version text \"" + std::string(utf8) + "\" is not valid UTF-8.");
    VersionNode node{std::move(key), true, {}, {}};
    for (char16_t c : *units)
        Put16(node.value, c);
    Put16(node.value, 0);
    return node;
}

VersionNode BinaryNode(std::u16string key, std::vector<std::uint8_t> bytes)
{
    return VersionNode{std::move(key), false, std::move(bytes), {}};
}

VersionNode ContainerNode(std::u16string key, std::vector<VersionNode> children)
{
    return VersionNode{std::move(key), true, {}, std::move(children)};
}

std::vector<std::uint8_t> SerializeVersionNode(const VersionNode& node)
{
    std::vector<std::uint8_t> out;
    Append(out, node);
    return out;
}

namespace {

// Line-numbered failure for the record reader.
[[noreturn]] void Fail(int line, const std::string& what)
{
    throw Exception("Version record line " + std::to_string(line) + ": " + what + ".");
}

std::string_view Trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Decimal, or hexadecimal with "0x"; the whole text must be the number.
bool ParseNumber(std::string_view s, std::uint64_t max, std::uint64_t& value)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    if (s.empty())
        return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    return ec == std::errc() && end == s.data() + s.size() && value <= max;
}

bool ParseQuad(std::string_view s, std::array<std::uint16_t, 4>& quad)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? s.find('.') : s.size();
        if (dot == std::string_view::npos)
            return false;
        const std::string_view part = s.substr(0, dot);
        // Plain decimal only: "0x1.2.3.4" is not a version.
        if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        std::uint64_t v = 0;
        if (!ParseNumber(part, 0xFFFF, v))
            return false;
        quad[i] = std::uint16_t(v);
        s.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return true;
}

} // namespace

VersionRecord ParseVersionRecord(std::string_view text)
{
    VersionRecord record;
    enum class Section { None, Fixed, Translation, Strings } section = Section::None;
    const std::map<std::string_view, std::uint64_t> numberLimits = {
        {"FileFlagsMask", 0xFFFFFFFF}, {"FileFlags", 0xFFFFFFFF}, {"FileOS", 0xFFFFFFFF},
        {"FileType", 0xFFFFFFFF},      {"FileSubtype", 0xFFFFFFFF}, {"FileDate", UINT64_MAX},
        {"Language", 0xFFFF},          {"CodePage", 0xFFFF},
    };
    std::map<std::string, int> seenFixed;
    std::map<std::string, int> seenStrings;

    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t eol = text.find('\n');
        std::string_view line = Trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line == "[Fixed]")
                section = Section::Fixed;
            else if (line == "[Translation]")
                section = Section::Translation;
            else if (line == "[Strings]")
                section = Section::Strings;
            else
                Fail(lineNumber, "unknown section " + std::string(line));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            Fail(lineNumber, "expected \"Name = value\"");
        const std::string name(Trim(line.substr(0, eq)));
        const std::string_view value = Trim(line.substr(eq + 1));
        if (name.empty())
            Fail(lineNumber, "missing name");

        if (section == Section::Strings) {
            if (seenStrings.count(name))
                Fail(lineNumber, "\"" + name + "\" given twice");
            if (!Utf8ToUtf16(name) || !Utf8ToUtf16(value))
                Fail(lineNumber, "text is not valid UTF-8");
            seenStrings[name] = lineNumber;
            record.strings.emplace_back(name, std::string(value));
            continue;
        }
        if (section == Section::None)
            Fail(lineNumber, "\"" + name + "\" outside a section");
        if (seenFixed.count(name))
            Fail(lineNumber, "\"" + name + "\" given twice");
        seenFixed[name] = lineNumber;

        if (section == Section::Fixed && (name == "FileVersion" || name == "ProductVersion")) {
            auto& quad = name == "FileVersion" ? record.fileVersion : record.productVersion;
            if (!ParseQuad(value, quad))
                Fail(lineNumber, "\"" + name + "\" must be four numbers 0..65535 joined by dots");
            continue;
        }
        const bool translationName = name == "Language" || name == "CodePage";
        const auto limit = numberLimits.find(name);
        if (limit == numberLimits.end() || translationName != (section == Section::Translation))
            Fail(lineNumber, "unknown name \"" + name + "\"");
        std::uint64_t v = 0;
        if (!ParseNumber(value, limit->second, v))
            Fail(lineNumber, "\"" + name + "\" is not a number in range");
        if (name == "FileFlagsMask") record.fileFlagsMask = std::uint32_t(v);
        else if (name == "FileFlags") record.fileFlags = std::uint32_t(v);
        else if (name == "FileOS") record.fileOS = std::uint32_t(v);
        else if (name == "FileType") record.fileType = std::uint32_t(v);
        else if (name == "FileSubtype") record.fileSubtype = std::uint32_t(v);
        else if (name == "FileDate") record.fileDate = v;
        else if (name == "Language") record.language = std::uint16_t(v);
        else record.codePage = std::uint16_t(v);
    }

    for (const char* required : {"FileVersion", "ProductVersion", "FileFlagsMask", "FileFlags", "FileOS",
                                 "FileType", "FileSubtype", "FileDate", "Language", "CodePage"}) {
        if (!seenFixed.count(required))
            throw Exception(std::string("The version record has no \"") + required + "\".");
    }
    return record;
}

std::vector<std::uint8_t> FixedFileInfo(const VersionRecord& r)
{
    std::vector<std::uint8_t> out;
    Put32(out, kFixedInfoSignature);
    Put32(out, kFixedInfoStructVersion);
    Put32(out, (std::uint32_t(r.fileVersion[0]) << 16) | r.fileVersion[1]);
    Put32(out, (std::uint32_t(r.fileVersion[2]) << 16) | r.fileVersion[3]);
    Put32(out, (std::uint32_t(r.productVersion[0]) << 16) | r.productVersion[1]);
    Put32(out, (std::uint32_t(r.productVersion[2]) << 16) | r.productVersion[3]);
    Put32(out, r.fileFlagsMask);
    Put32(out, r.fileFlags);
    Put32(out, r.fileOS);
    Put32(out, r.fileType);
    Put32(out, r.fileSubtype);
    Put32(out, std::uint32_t(r.fileDate >> 32));
    Put32(out, std::uint32_t(r.fileDate));
    return out;
}

std::u16string StringTableKey(std::uint16_t language, std::uint16_t codePage)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%04X%04X", unsigned(language), unsigned(codePage));
    return std::u16string(hex, hex + 8);
}

VersionNode VersionTree(const VersionRecord& record)
{
    std::vector<VersionNode> strings;
    for (const auto& [name, value] : record.strings) {
        const auto key = Utf8ToUtf16(name);
        if (!key)
            throw Exception("The version string name \"" + name + "\" is not valid UTF-8.");
        strings.push_back(TextNode(*key, value));
    }
    std::vector<std::uint8_t> translation;
    Put16(translation, record.language);
    Put16(translation, record.codePage);

    VersionNode root = BinaryNode(u"VS_VERSION_INFO", FixedFileInfo(record));
    root.children.push_back(ContainerNode(
        u"StringFileInfo", {ContainerNode(StringTableKey(record.language, record.codePage), std::move(strings))}));
    root.children.push_back(ContainerNode(u"VarFileInfo", {BinaryNode(u"Translation", std::move(translation))}));
    return root;
}

std::vector<std::uint8_t> BuildVersionBlock(const VersionRecord& record)
{
    return SerializeVersionNode(VersionTree(record));
}

} // namespace gloxen::version
