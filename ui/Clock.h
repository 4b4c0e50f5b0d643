// IClock: where the program reads the time of day, so that tests can fix it.
#pragma once

#include <ctime>
#include <string>

class IClock {
public:
    virtual ~IClock() = default;
    virtual std::time_t Now() const = 0;
};

class CSystemClock : public IClock {
public:
    std::time_t Now() const override;
};

// The process-wide clock: the system clock unless a test installed another.
IClock& GetClock();
void SetClock(IClock* pClock); // null restores the system clock

// strftime in the POSIX "C" locale, whatever locale GTK set for the process.
std::string FormatTimeC(const char* szFormat, std::time_t when);
