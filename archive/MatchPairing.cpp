#include "archive/MatchPairing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// A tangle of sends and receives whose windows overlap is solved exactly (an alignment, as two
// sequences are aligned with gaps) up to this many cells; beyond it (a flood of commands faster
// than the window) each send takes the first receive free in its window.
constexpr size_t kMostCells = 1 << 22;

void Greedy(const std::vector<double>& s, const std::vector<double>& r, size_t i0, size_t i1, size_t j0,
            size_t j1, double low, double high, std::vector<std::pair<int, int>>* out) {
    size_t j = j0;
    for (size_t i = i0; i < i1; ++i) {
        while (j < j1 && r[j] - s[i] < low)
            ++j;
        if (j < j1 && r[j] - s[i] <= high)
            out->push_back({int(i), int(j++)});
    }
}

// Sends [i0, i1) with receives [j0, j1): the fewest left over, then the least transfer in total.
void Align(const std::vector<double>& s, const std::vector<double>& r, size_t i0, size_t i1, size_t j0,
           size_t j1, double low, double high, std::optional<double> centre,
           std::vector<std::pair<int, int>>* out) {
    const size_t n = i1 - i0;
    const size_t m = j1 - j0;
    if ((n + 1) * (m + 1) > kMostCells) {
        Greedy(s, r, i0, i1, j0, j1, low, high, out);
        return;
    }
    // A pair costs its transfer above the window's floor, or its distance from the centre (at most the
    // window's width either way); an event left
    // over costs more than that, so two left over never beat a pair.
    const double gap = high - low + 1;
    const size_t w = m + 1;
    std::vector<double> cost((n + 1) * w, 0);
    std::vector<std::uint8_t> move((n + 1) * w, 0); // 1 send left, 2 receive left, 3 pair
    for (size_t i = 0; i <= n; ++i)
        for (size_t j = 0; j <= m; ++j) {
            if (i == 0 && j == 0)
                continue;
            double best = std::numeric_limits<double>::infinity();
            std::uint8_t how = 0;
            if (i > 0 && cost[(i - 1) * w + j] + gap < best) {
                best = cost[(i - 1) * w + j] + gap;
                how = 1;
            }
            if (j > 0 && cost[i * w + j - 1] + gap < best) {
                best = cost[i * w + j - 1] + gap;
                how = 2;
            }
            if (i > 0 && j > 0) {
                const double t = r[j0 + j - 1] - s[i0 + i - 1];
                const double c = centre ? std::abs(t - *centre) : t - low;
                if (t >= low && t <= high && cost[(i - 1) * w + j - 1] + c < best) {
                    best = cost[(i - 1) * w + j - 1] + c;
                    how = 3;
                }
            }
            cost[i * w + j] = best;
            move[i * w + j] = how;
        }
    std::vector<std::pair<int, int>> pairs;
    for (size_t i = n, j = m; i > 0 || j > 0;) {
        const std::uint8_t how = move[i * w + j];
        if (how == 3)
            pairs.push_back({int(i0 + i - 1), int(j0 + j - 1)});
        i -= how == 1 || how == 3 ? 1 : 0;
        j -= how == 2 || how == 3 ? 1 : 0;
    }
    out->insert(out->end(), pairs.rbegin(), pairs.rend());
}

} // namespace

std::vector<std::pair<int, int>> PairInOrder(const std::vector<double>& sends,
                                             const std::vector<double>& receives, double lowMs, double highMs,
                                             std::optional<double> centreMs) {
    std::vector<std::pair<int, int>> out;
    // Tangles: runs of sends whose windows reach the same receives. A send whose window holds no
    // receive a neighbour's could take starts a new one.
    size_t i = 0;
    size_t j = 0;
    while (i < sends.size()) {
        while (j < receives.size() && receives[j] - sends[i] < lowMs)
            ++j;
        const size_t i0 = i;
        const size_t j0 = j;
        double reach = sends[i] + highMs;
        ++i;
        size_t j1 = j0;
        for (;;) {
            while (j1 < receives.size() && receives[j1] <= reach)
                ++j1;
            if (i < sends.size() && sends[i] + lowMs <= reach) {
                reach = std::max(reach, sends[i] + highMs);
                ++i;
                continue;
            }
            break;
        }
        if (j1 > j0)
            Align(sends, receives, i0, i, j0, j1, lowMs, highMs, centreMs, &out);
        j = j1;
    }
    return out;
}
