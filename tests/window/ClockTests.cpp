// The status bar clock text.

#include "WindowSupport.h"

#include <QDateTime>
#include <QLocale>

#include <ostream>

namespace {

struct TClockCase {
    const char* Name;
    const char* Locale;
    QDate Date;
    QTime Time;
    QString Text;
};

void PrintTo(const TClockCase& c, std::ostream* out) { *out << c.Name; }

class StatusClock : public ::testing::TestWithParam<TClockCase> {};

TEST_P(StatusClock, FormatsTheDateAndTwelveHourTime) {
    const TClockCase& c = GetParam();
    EXPECT_EQ(FormatStatusClock(QDateTime(c.Date, c.Time), QLocale(c.Locale)), c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Times, StatusClock,
    ::testing::Values(
        TClockCase{"Afternoon", "en_US", {2012, 12, 22}, {15, 7}, "Saturday, December 22,  2012 03:07 PM"},
        TClockCase{"Midnight", "en_US", {2013, 1, 1}, {0, 5}, "Tuesday, January 1,  2013 12:05 AM"},
        TClockCase{"JustBeforeNoon", "en_US", {2013, 1, 1}, {11, 59}, "Tuesday, January 1,  2013 11:59 AM"},
        TClockCase{"Noon", "en_US", {2013, 1, 1}, {12, 0}, "Tuesday, January 1,  2013 12:00 PM"},
        TClockCase{"LastHour", "en_US", {2013, 1, 1}, {23, 30}, "Tuesday, January 1,  2013 11:30 PM"},
        TClockCase{"SecondsIgnored", "en_US", {2013, 1, 1}, {9, 4, 59}, "Tuesday, January 1,  2013 09:04 AM"},
        TClockCase{"ShortYearPadded", "en_US", {999, 3, 9}, {8, 0}, "Saturday, March 9,  0999 08:00 AM"},
        TClockCase{"FinnishDotSeparator", "fi_FI", {2012, 12, 22}, {15, 7}, "lauantai, joulukuu 22,  2012 03.07 PM"},
        TClockCase{"GermanKeepsAmPmLetters", "de_DE", {2012, 12, 22}, {0, 7}, "Samstag, Dezember 22,  2012 12:07 AM"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
