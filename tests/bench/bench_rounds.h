// What the benchmarks that time ours and the peers in turn share: the
// thread's processor time, the median of a row's rounds, and the fastest
// peer of a row.
#pragma once

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

inline double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A row's peers by name with their rates (bytes per second).
using PeerRates = std::vector<std::pair<std::string, double>>;

// The fastest peer: its name and rate ("-" and 0 when there is none).
inline std::pair<std::string, double> BestPeer(const PeerRates& peers)
{
    std::pair<std::string, double> best{"-", 0};
    for (const auto& [name, rate] : peers)
        if (rate > best.second)
            best = {name, rate};
    return best;
}

// A peer's rate in MB/s as text, "-" when the row has no such peer.
inline std::string PeerRateText(const PeerRates& peers, const char* peer)
{
    for (const auto& [name, rate] : peers)
        if (name == peer) {
            char text[32];
            std::snprintf(text, sizeof text, "%.0f", rate / 1e6);
            return text;
        }
    return "-";
}
