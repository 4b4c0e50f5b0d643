// CStatusSnapshot: what the status page tells about a running session, as
// numbers the session keeps beside its work. The session's thread fills a
// new one every tick and hands it over whole; the status server only ever
// reads the copy it was given, never the session or the engine.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The upper bounds of the answer-latency histogram's buckets, in seconds
// (the last bucket, +Inf, is implied).
constexpr std::array<double, 12> kLatencyBounds = {
    0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1.0};

struct CLatencyHistogram {
    // Answers in each bucket (not cumulative); the last one past every bound.
    std::array<std::uint64_t, kLatencyBounds.size() + 1> buckets{};
    double dSumSeconds = 0;
    std::uint64_t nCount = 0;
    void Add(double dSeconds);
};

struct CPortStatus {
    int nPort = 1;
    std::string strDevice;
    std::string strState;        // the session state's text ("WAITING FOR CR")
    bool bLineOpen = false;      // the port is set up (not lost, not logged off)
    bool bDevicePresent = false; // the device is there (not lost)
    std::uint64_t nSessions = 0; // logons completed
    // Page results by their records' verdict: "accepted", "bad-checksum",
    // "bad-format", "timed-out", "incomplete", "refused", ...
    std::map<std::string, std::uint64_t> pages;
    std::uint64_t nBlocks = 0;
    std::uint64_t nNaks = 0;
    CLatencyHistogram latency;
    std::int64_t nLastPageMs = 0; // wall clock; 0: no page yet
};

struct CTargetMetrics {
    std::string strName;
    std::string strKind; // "MQTT", "HTTP", "SMTP", "EXEC"
    std::uint64_t nDelivered = 0;
    std::uint64_t nFailed = 0;
    std::uint64_t nExpired = 0;
    std::uint64_t nAttempts = 0;
    std::uint64_t nPending = 0;
    std::int64_t nOldestPendingMs = 0; // wall clock; 0: none pending
};

struct CActiveAlert {
    std::string
        strCondition; // "line_silent", "device_lost", "target_stalled", "pages_expired"
    int nPort = 0;
    std::string strTarget;     // the target it concerns; empty: the line
    std::int64_t nSinceMs = 0; // wall clock
    std::string strText;       // "line silent since 14:02:11"
};

struct CStatusSnapshot {
    std::int64_t nNowMs = 0; // wall clock when it was taken
    bool bReady = false;     // every line was opened once
    std::vector<CPortStatus> ports;
    std::vector<CTargetMetrics> targets;
    bool bOutbox = false;             // pages are kept for delivery onward
    std::int64_t nOutboxBytes = 0;    // the outbox file's size
    std::vector<CActiveAlert> alerts; // active now
};
