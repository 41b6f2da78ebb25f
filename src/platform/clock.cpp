#include "platform/clock.h"

#include <ctime>
#include <sys/time.h>

namespace brindle {

uint32_t GetTickCount32() {
    struct timespec ts;
    ::clock_gettime(CLOCK_BOOTTIME, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t NonZeroTick() { return NonZeroTickOf(GetTickCount32()); }

SystemTime LocalTimeNow() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::localtime_r(&ts.tv_sec, &t);
    SystemTime st;
    st.wYear = static_cast<uint16_t>(t.tm_year + 1900);
    st.wMonth = static_cast<uint16_t>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<uint16_t>(t.tm_wday);
    st.wDay = static_cast<uint16_t>(t.tm_mday);
    st.wHour = static_cast<uint16_t>(t.tm_hour);
    st.wMinute = static_cast<uint16_t>(t.tm_min);
    st.wSecond = static_cast<uint16_t>(t.tm_sec);
    st.wMilliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
    return st;
}

// Howard Hinnant's days_from_civil, shifted so that day 0 is 1601-01-01.
int64_t DaysFromCivil(int year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t fromEpoch1970 = era * 146097 + static_cast<int64_t>(doe) - 719468;
    return fromEpoch1970 + 134774; // 1601-01-01 .. 1970-01-01
}

void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day) {
    int64_t z = days - 134774 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (month <= 2));
}

uint64_t SystemTimeToFileTime(const SystemTime& st) {
    int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay);
    uint64_t ms = static_cast<uint64_t>(days) * 86400000ull +
                  ((st.wHour * 60ull + st.wMinute) * 60ull + st.wSecond) * 1000ull + st.wMilliseconds;
    return ms * 10000ull;
}

SystemTime FileTimeToSystemTime(uint64_t fileTime) {
    uint64_t ms = fileTime / 10000ull;
    int64_t days = static_cast<int64_t>(ms / 86400000ull);
    uint64_t inDay = ms % 86400000ull;
    SystemTime st;
    int year;
    unsigned month, day;
    CivilFromDays(days, year, month, day);
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wDayOfWeek = static_cast<uint16_t>((days + 1) % 7); // 1601-01-01 was a Monday
    st.wHour = static_cast<uint16_t>(inDay / 3600000ull);
    st.wMinute = static_cast<uint16_t>(inDay / 60000ull % 60);
    st.wSecond = static_cast<uint16_t>(inDay / 1000ull % 60);
    st.wMilliseconds = static_cast<uint16_t>(inDay % 1000ull);
    return st;
}

namespace {
class RealClock : public Clock {
  public:
    uint32_t Tick() const override { return GetTickCount32(); }
    SystemTime LocalNow() const override { return LocalTimeNow(); }
};
} // namespace

const Clock& SystemClock() {
    static const RealClock clock;
    return clock;
}

} // namespace brindle
