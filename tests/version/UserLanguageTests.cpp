// The user's language identifier from the POSIX locale.
#include "TestSupport.h"
#include "UserLanguage.h"

#include <gtest/gtest.h>

using testsupport::ScopedLocale;

namespace {

TEST(LangIdFromLocaleName, Table)
{
    const struct {
        const char* locale;
        std::uint16_t expected;
    } cases[] = {
        {"en_US", 0x0409},          {"en_US.UTF-8", 0x0409}, {"en_GB.UTF-8", 0x0809},  {"EN_gb", 0x0809},
        {"de_DE", 0x0407},          {"de_DE@euro", 0x0407},  {"de_AT.UTF-8@euro", 0x0C07},
        {"de_CH", 0x0807},          {"de_BE", 0x0407},       {"de", 0x0407},           {"fr_FR", 0x040C},
        {"fr_CA", 0x0C0C},          {"fr_BE.UTF-8", 0x080C}, {"es_ES", 0x0C0A},        {"es_MX", 0x080A},
        {"pt_BR", 0x0416},          {"pt_PT", 0x0816},       {"pt", 0x0416},           {"it_IT", 0x0410},
        {"nl_BE", 0x0813},          {"sv_FI", 0x081D},       {"nb_NO", 0x0414},        {"pl_PL", 0x0415},
        {"ru_RU.KOI8-R", 0x0419},   {"ja_JP.eucJP", 0x0411}, {"ko_KR", 0x0412},        {"zh_CN.GB2312", 0x0804},
        {"zh_TW.Big5", 0x0404},     {"zh_HK", 0x0C04},       {"tr_TR", 0x041F},        {"ar_EG", 0x0C01},
        {"C", 0x0409},              {"POSIX", 0x0409},       {"C.UTF-8", 0x0409},      {"", 0x0409},
        {"xx_YY", 0x0409},          {"_DE", 0x0409},         {"de_", 0x0407},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(gloxen::version::LangIdFromLocaleName(c.locale), c.expected);
    }
}

TEST(GetUserDefaultLangID, FirstSetVariableDecides)
{
    using O = std::optional<std::string>;
    const struct {
        O lcAll, lcMessages, lang;
        std::uint16_t expected;
    } cases[] = {
        {"de_DE", "fr_FR", "it_IT", 0x0407},
        {"", "fr_FR", "it_IT", 0x040C},            // empty counts as unset
        {std::nullopt, std::nullopt, "it_IT", 0x0410},
        {std::nullopt, "", "ja_JP", 0x0411},
        {"C", std::nullopt, "de_DE", 0x0409},      // LC_ALL=C wins over LANG
        {std::nullopt, std::nullopt, std::nullopt, 0x0409},
    };
    for (const auto& c : cases) {
        const ScopedLocale locale(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(GetUserDefaultLangID(), c.expected)
            << c.lcAll.value_or("-") << " " << c.lcMessages.value_or("-") << " " << c.lang.value_or("-");
    }
}

} // namespace
