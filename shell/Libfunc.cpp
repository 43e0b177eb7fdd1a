#include "Libfunc.h"

#include "UserLanguage.h"
#include "VersionInfo.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr std::size_t kVersionBufferBytes = 256;
// Values whose reported length reaches the buffer size are cut to this many
// bytes.
constexpr std::size_t kCutLength = 250;

// How many of the first `count` bytes of `text` to keep so that a cut does
// not leave the start of a multi-byte UTF-8 character without its end.
std::size_t WholeCharacters(const char* text, std::size_t count)
{
    std::size_t start = count;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
        --start;  // back over continuation bytes to the lead byte
    if (start == 0)
        return count;
    const auto lead = static_cast<unsigned char>(text[start - 1]);
    const std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return count - (start - 1) >= want ? count : start - 1;
}

} // namespace

char* GetFileVersionString(const char* fileName)
{
    // Holds each query path in turn, then the result; the pointer we return
    // stays valid until the next call.
    static char buffer[kVersionBufferBytes];

    std::uint32_t handle = 0;
    const std::uint32_t size = GetFileVersionInfoSizeA(fileName, &handle);
    if (size == 0)
        return nullptr;
    const std::unique_ptr<char[]> block(new (std::nothrow) char[std::size_t(size) + 1]);
    if (!block || GetFileVersionInfoA(fileName, handle, size, block.get()) == 0)
        return nullptr;

    void* value = nullptr;
    std::uint32_t length = 0;
    if (VerQueryValueA(block.get(), "\\VarFileInfo\\Translation", &value, &length) != 0 && length == 4) {
        // Little-endian: language in the low half, code page in the high half.
        const auto* t = static_cast<const unsigned char*>(value);
        const unsigned language = t[0] | (t[1] << 8);
        const unsigned codePage = t[2] | (t[3] << 8);
        std::snprintf(buffer, sizeof buffer, "\\StringFileInfo\\%02X%02X%02X%02X\\FileVersion", language >> 8,
                      language & 0xFF, codePage >> 8, codePage & 0xFF);
    } else {
        // No single translation to go by: the user's language with UTF-16.
        std::snprintf(buffer, sizeof buffer, "\\StringFileInfo\\%04X04B0\\FileVersion",
                      unsigned(GetUserDefaultLangID()));
    }
    if (VerQueryValueA(block.get(), buffer, &value, &length) == 0)
        return nullptr;

    const char* text = static_cast<const char*>(value);
    if (length >= kVersionBufferBytes) {
        const std::size_t keep = WholeCharacters(text, kCutLength);
        std::memcpy(buffer, text, keep);
        buffer[keep] = '\0';
    } else {
        // The reported length counts the terminator, so the text fits; the
        // bound only guards against a value whose zero comes later than said.
        const std::size_t keep = strnlen(text, kVersionBufferBytes - 1);
        std::memcpy(buffer, text, keep);
        buffer[keep] = '\0';
    }
    return buffer;
}

int LastCharPos(std::string s, char c)
{
    for (std::size_t i = s.size(); i > 0; --i) {
        if (s[i - 1] == c)
            return static_cast<int>(i);
    }
    return 0;
}

std::string GetShortVersion(std::string fileName)
{
    const char* found = GetFileVersionString(fileName.c_str());
    const std::string version = found != nullptr ? found : "";
    const int p = LastCharPos(version, '.');
    if (p > 0)
        return version.substr(0, static_cast<std::size_t>(p - 1));
    return version;
}
