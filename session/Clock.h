// IClock: where the program reads the time of day, so that tests can fix it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class IClock {
  public:
    virtual ~IClock() = default;
    virtual std::time_t Now() const = 0;
    // The same time in milliseconds since the epoch (records that need it).
    virtual std::int64_t NowMs() const {
        return static_cast<std::int64_t>(Now()) * 1000;
    }
};

class CSystemClock : public IClock {
  public:
    std::time_t Now() const override;
    std::int64_t NowMs() const override;
};

// The process-wide clock: the system clock unless a test installed another.
IClock& GetClock();
void SetClock(IClock* pClock); // null restores the system clock

// strftime in the POSIX "C" locale, whatever locale GTK set for the process.
std::string FormatTimeC(const char* szFormat, std::time_t when);
