#pragma once
// The user's language as a Windows language identifier (LANGID: primary
// language in the low 10 bits, sub-language above), taken from the POSIX
// locale the way the C library picks the locale for messages.

#include <cstdint>
#include <string_view>

// Reads LC_ALL, then LC_MESSAGES, then LANG; the first one set and not empty
// decides. C, POSIX, an unset locale or one not in our table give 0x0409
// (English, United States).
std::uint16_t GetUserDefaultLangID();

namespace gloxen::version {

// The LANGID for a locale name "language[_TERRITORY][.codeset][@modifier]",
// e.g. "de_AT.UTF-8" gives 0x0C07. The language and territory are matched
// without regard to case. A known language with a territory missing from the
// table gives that language's main LANGID ("de_BE" gives 0x0407, German as
// in Germany); an unknown language, "C" and "POSIX" give 0x0409.
std::uint16_t LangIdFromLocaleName(std::string_view locale);

} // namespace gloxen::version
