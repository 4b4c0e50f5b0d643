#include "session/StatusSnapshot.h"

void CLatencyHistogram::Add(double dSeconds) {
    size_t i = 0;
    while (i < kLatencyBounds.size() && dSeconds > kLatencyBounds[i])
        ++i;
    ++buckets[i];
    dSumSeconds += dSeconds;
    ++nCount;
}
