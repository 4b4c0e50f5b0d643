#include "session/OutboxReport.h"

#include "delivery/Delivery.h"
#include "session/PageRecord.h"
#include "session/SessionDelivery.h"
#include "settings/PortConfig.h"
#include "settings/Profile.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <ostream>
#include <unistd.h>

namespace {

struct CRow {
    std::string strName;
    std::string strScheme; // empty: no longer in the profile
    std::string strUrl;    // secret-free
    CTargetCounts counts;
};

} // namespace

int PrintOutboxReport(IProfile& profile, bool bJson, std::ostream& out,
                      std::ostream& err) {
    const CPortConfig config(profile);
    const std::string strPath =
        OutboxPath(config.GetStateFolder(), profile.GetFilePath());
    const CTargetList list = LoadTargets(profile);
    std::vector<CRow> rows;
    for (const CTargetConfig& target : list.targets)
        rows.push_back({target.strName, target.KindText(), target.ShownUrl(), {}});
    for (const auto& off : list.off)
        rows.push_back({off.first, "off", "", {}});

    std::unique_ptr<COutbox> pOutbox;
    if (access(strPath.c_str(), F_OK) == 0) {
        std::string strError;
        pOutbox = COutbox::OpenReadOnly(strPath, &strError);
        if (!pOutbox) {
            err << "volnex: cannot read the outbox " << strError << "\n";
            return 1;
        }
        for (const std::string& strName : pOutbox->Targets()) {
            const bool bKnown =
                std::any_of(rows.begin(), rows.end(),
                            [&](const CRow& row) { return row.strName == strName; });
            if (!bKnown)
                rows.push_back({strName, "", "", {}});
        }
        for (CRow& row : rows)
            row.counts = pOutbox->Counts(row.strName);
    }

    if (bJson) {
        nlohmann::ordered_json report;
        report["outbox"] = strPath;
        report["exists"] = pOutbox != nullptr;
        report["targets"] = nlohmann::ordered_json::array();
        for (const CRow& row : rows) {
            nlohmann::ordered_json target;
            target["name"] = row.strName;
            target["scheme"] = row.strScheme.empty() ? "gone" : row.strScheme;
            target["url"] = row.strUrl;
            target["pending"] = row.counts.nPending;
            target["delivered"] = row.counts.nDelivered;
            target["failed"] = row.counts.nFailed;
            target["expired"] = row.counts.nExpired;
            if (row.counts.nOldestPendingMs > 0)
                target["oldest_pending"] = {
                    {"time", IsoLocalTime(row.counts.nOldestPendingMs)},
                    {"pager", row.counts.strOldestPendingPager}};
            else
                target["oldest_pending"] = nullptr;
            report["targets"].push_back(target);
        }
        out << report.dump(-1, ' ', false,
                           nlohmann::ordered_json::error_handler_t::replace)
            << "\n";
        return 0;
    }
    out << "Outbox: " << strPath << (pOutbox ? "" : " (none yet: no page kept so far)")
        << "\n";
    if (rows.empty())
        out << "No delivery target is set up in " << profile.GetFilePath() << ".\n";
    for (const CRow& row : rows) {
        out << row.strName << " ("
            << (row.strScheme.empty() ? "no longer in the profile" : row.strScheme)
            << "): " << row.counts.nPending << " pending, " << row.counts.nDelivered
            << " delivered, " << row.counts.nFailed << " failed, "
            << row.counts.nExpired << " expired";
        if (row.counts.nOldestPendingMs > 0)
            out << "; oldest pending: " << IsoLocalTime(row.counts.nOldestPendingMs)
                << " for " << row.counts.strOldestPendingPager;
        out << "\n";
    }
    return 0;
}
