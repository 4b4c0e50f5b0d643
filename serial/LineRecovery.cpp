#include "serial/LineRecovery.h"

#include <utility>

CLineRecovery::CLineRecovery(Probe probe) : m_probe(std::move(probe)) {}

bool CLineRecovery::Tick(bool bDeviceLost, const std::string& strDevicePath) {
    if (bDeviceLost && !m_bWaiting && !m_bCancelled) {
        m_bWaiting = true;
        m_strPath = strDevicePath;
        m_nTicks = 0;
    }
    if (!m_bWaiting || ++m_nTicks < kCheckTicks)
        return false;
    m_nTicks = 0;
    return m_probe && m_probe(m_strPath);
}

void CLineRecovery::Recovered() {
    m_bWaiting = false;
    m_bCancelled = false;
}

void CLineRecovery::Cancel() {
    m_bWaiting = false;
    m_bCancelled = true;
}
