#pragma once

#include <optional>
#include <utility>
#include <vector>

// The pairing of one stream: the sends of one command (or return) one way, and the receives of it
// at the other end, both on the common axis (local clock) and ascending. A pair's transfer is
// receive minus send. Pure.
//
// Pairs keep the order of events (the link delivers in order: the first send goes with the first
// receive), each event is in one pair at most, a transfer lies in [lowMs, highMs], and of the
// orders that pair the most events the one with the least transfer in total wins, so a twin logged
// after the real receive is the one left over, and of two sends one receive could answer, the one
// whose transfer is shorter takes it. With `centreMs` the one whose transfers lie nearest it wins
// instead (for a first pairing around a level that is not yet the fast edge). Returns (send index,
// receive index) in order.
std::vector<std::pair<int, int>> PairInOrder(const std::vector<double>& sends,
                                             const std::vector<double>& receives, double lowMs, double highMs,
                                             std::optional<double> centreMs = std::nullopt);
