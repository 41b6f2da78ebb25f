// Clocks: the millisecond tick count and local wall-clock time.
//
// Time-dependent logic takes a Clock so that tests can move time without
// sleeping; production code uses SystemClock().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace brindle {

// Local wall-clock time with the fields of the Windows SYSTEMTIME.
struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;     // 1-12
    uint16_t wDayOfWeek = 0; // 0 = Sunday
    uint16_t wDay = 0;       // 1-31
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// Milliseconds of CLOCK_BOOTTIME truncated to 32 bits: keeps counting
// through suspend and wraps after about 49.7 days.
uint32_t GetTickCount32();

// The tick count with 1 in place of 0, for clocks where 0 means "not running".
inline uint32_t NonZeroTickOf(uint32_t tick) {
    return tick == 0 ? 1 : tick;
}
uint32_t NonZeroTick();

// The current local time.
SystemTime LocalTimeNow();

// FILETIME: 100 ns units since 1601-01-01, built from the local time fields
// (not UTC), as the wire format and the image queue carry it.
uint64_t SystemTimeToFileTime(const SystemTime& st);
SystemTime FileTimeToSystemTime(uint64_t fileTime);

// Days since 1601-01-01 of a civil date, and back; shared by the FILETIME
// conversion and the day arithmetic of the image store.
int64_t DaysFromCivil(int year, unsigned month, unsigned day);
void CivilFromDays(int64_t days, int& year, unsigned& month, unsigned& day);

// Injectable source of time.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t Tick() const = 0;
    virtual SystemTime LocalNow() const = 0;
};

// The real clocks.
const Clock& SystemClock();

// A clock that tests set by hand. It may be read from other threads while
// the test moves it (frame cycles run on workers).
class ManualClock : public Clock {
  public:
    uint32_t Tick() const override { return tick_.load(); }
    SystemTime LocalNow() const override {
        std::lock_guard<std::mutex> guard(lock_);
        return now_;
    }
    void SetTick(uint32_t tick) { tick_.store(tick); }
    void Advance(uint32_t ms) { tick_.fetch_add(ms); }
    void SetLocalNow(const SystemTime& now) {
        std::lock_guard<std::mutex> guard(lock_);
        now_ = now;
    }

  private:
    std::atomic<uint32_t> tick_{1};
    mutable std::mutex lock_;
    SystemTime now_{};
};

} // namespace brindle
