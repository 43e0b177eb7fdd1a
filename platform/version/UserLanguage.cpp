#include "UserLanguage.h"

#include <cstdlib>
#include <string>

namespace gloxen::version {
namespace {

constexpr std::uint16_t kEnglishUS = 0x0409;

struct LocaleLangId {
    const char* language;   // ISO 639 code, lower case
    const char* territory;  // ISO 3166 code, upper case; "" for the language's main LANGID
    std::uint16_t langId;
};

// The languages most likely on a desktop. Each language's first row, with no
// territory, is what it falls back to.
constexpr LocaleLangId kTable[] = {
    {"ar", "", 0x0401}, {"ar", "SA", 0x0401}, {"ar", "IQ", 0x0801}, {"ar", "EG", 0x0C01},
    {"ar", "MA", 0x1801}, {"ar", "AE", 0x3801},
    {"be", "", 0x0423},
    {"bg", "", 0x0402},
    {"ca", "", 0x0403},
    {"cs", "", 0x0405},
    {"da", "", 0x0406},
    {"de", "", 0x0407}, {"de", "DE", 0x0407}, {"de", "CH", 0x0807}, {"de", "AT", 0x0C07},
    {"de", "LU", 0x1007}, {"de", "LI", 0x1407},
    {"el", "", 0x0408},
    {"en", "", 0x0409}, {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09},
    {"en", "CA", 0x1009}, {"en", "NZ", 0x1409}, {"en", "IE", 0x1809}, {"en", "ZA", 0x1C09},
    {"en", "IN", 0x4009}, {"en", "SG", 0x4809},
    {"es", "", 0x0C0A}, {"es", "ES", 0x0C0A}, {"es", "MX", 0x080A}, {"es", "AR", 0x2C0A},
    {"es", "CL", 0x340A}, {"es", "CO", 0x240A}, {"es", "US", 0x540A},
    {"et", "", 0x0425},
    {"eu", "", 0x042D},
    {"fa", "", 0x0429},
    {"fi", "", 0x040B},
    {"fr", "", 0x040C}, {"fr", "FR", 0x040C}, {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C},
    {"fr", "CH", 0x100C}, {"fr", "LU", 0x140C},
    {"gl", "", 0x0456},
    {"he", "", 0x040D},
    {"hi", "", 0x0439},
    {"hr", "", 0x041A},
    {"hu", "", 0x040E},
    {"id", "", 0x0421},
    {"is", "", 0x040F},
    {"it", "", 0x0410}, {"it", "IT", 0x0410}, {"it", "CH", 0x0810},
    {"ja", "", 0x0411},
    {"ko", "", 0x0412},
    {"lt", "", 0x0427},
    {"lv", "", 0x0426},
    {"ms", "", 0x043E},
    {"nb", "", 0x0414},
    {"nl", "", 0x0413}, {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813},
    {"nn", "", 0x0814},
    {"no", "", 0x0414},
    {"pl", "", 0x0415},
    {"pt", "", 0x0416}, {"pt", "BR", 0x0416}, {"pt", "PT", 0x0816},
    {"ro", "", 0x0418},
    {"ru", "", 0x0419},
    {"sk", "", 0x041B},
    {"sl", "", 0x0424},
    {"sr", "", 0x281A},
    {"sv", "", 0x041D}, {"sv", "SE", 0x041D}, {"sv", "FI", 0x081D},
    {"th", "", 0x041E},
    {"tr", "", 0x041F},
    {"uk", "", 0x0422},
    {"vi", "", 0x042A},
    {"zh", "", 0x0804}, {"zh", "CN", 0x0804}, {"zh", "TW", 0x0404}, {"zh", "HK", 0x0C04},
    {"zh", "SG", 0x1004}, {"zh", "MO", 0x1404},
};

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    return out;
}

std::string Upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return out;
}

} // namespace

std::uint16_t LangIdFromLocaleName(std::string_view locale)
{
    // Drop ".codeset" and "@modifier", then split "language_TERRITORY".
    locale = locale.substr(0, locale.find_first_of(".@"));
    const std::size_t underscore = locale.find('_');
    const std::string language = Lower(locale.substr(0, underscore));
    const std::string territory =
        underscore == std::string_view::npos ? std::string() : Upper(locale.substr(underscore + 1));

    std::uint16_t fallback = kEnglishUS;
    bool known = false;
    for (const LocaleLangId& row : kTable) {
        if (language != row.language)
            continue;
        if (!known) {
            fallback = row.langId;
            known = true;
        }
        if (!territory.empty() && territory == row.territory)
            return row.langId;
    }
    return fallback;
}

} // namespace gloxen::version

std::uint16_t GetUserDefaultLangID()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return gloxen::version::LangIdFromLocaleName(value);
    }
    return gloxen::version::LangIdFromLocaleName("C");
}
