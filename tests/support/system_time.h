// Dates and times written out in tests.
#pragma once

#include "platform/clock.h"

#include <cstdint>

namespace brindle::test {

// The given local date and time (the day of the week is left 0).
inline SystemTime TimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int ms = 0) {
    SystemTime st;
    st.wYear = static_cast<uint16_t>(year);
    st.wMonth = static_cast<uint16_t>(month);
    st.wDay = static_cast<uint16_t>(day);
    st.wHour = static_cast<uint16_t>(hour);
    st.wMinute = static_cast<uint16_t>(minute);
    st.wSecond = static_cast<uint16_t>(second);
    st.wMilliseconds = static_cast<uint16_t>(ms);
    return st;
}

// The FILETIME of a local date and time.
inline uint64_t FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0,
                           int second = 0, int ms = 0) {
    return SystemTimeToFileTime(TimeOf(year, month, day, hour, minute, second, ms));
}

} // namespace brindle::test
