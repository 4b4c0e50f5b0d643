// A clock the test sets, and local times built from their parts.
#pragma once

#include "session/Clock.h"

#include <cstdint>
#include <ctime>

class CFixedClock : public IClock {
  public:
    std::time_t when = 0;
    std::time_t Now() const override { return when; }
};

// The same to the millisecond.
class CMsClock : public IClock {
  public:
    std::int64_t nMs = 0;
    std::time_t Now() const override { return static_cast<std::time_t>(nMs / 1000); }
    std::int64_t NowMs() const override { return nMs; }
};

inline std::time_t LocalTime(int nYear, int nMonth, int nDay, int nHour, int nMin,
                             int nSec = 0) {
    std::tm tm{};
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    tm.tm_hour = nHour;
    tm.tm_min = nMin;
    tm.tm_sec = nSec;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}
