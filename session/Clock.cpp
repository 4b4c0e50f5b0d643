#include "session/Clock.h"

#include <chrono>
#include <clocale>
#include <locale.h>

std::time_t CSystemClock::Now() const {
    return std::time(nullptr);
}

std::int64_t CSystemClock::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

namespace {
CSystemClock g_systemClock;
IClock* g_pClock = &g_systemClock;
} // namespace

IClock& GetClock() {
    return *g_pClock;
}

void SetClock(IClock* pClock) {
    g_pClock = pClock ? pClock : &g_systemClock;
}

std::string FormatTimeC(const char* szFormat, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char szBuffer[128];
    // strftime_l with the "C" locale: %p gives AM/PM and the digits are plain,
    // whatever the user's locale is.
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    size_t n = strftime_l(szBuffer, sizeof szBuffer, szFormat, &local, cLocale);
    return std::string(szBuffer, n);
}
