#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brenvo {

// How the archives report to their owner: the store that sends, the action
// ("insert", "offen", "progressnolog", ...), an integer (a row id, or a
// progress value) and a text. Actions are compared exactly by the receiver;
// unknown actions are ignored there.
using TArchiveCallback =
    std::function<void(const void* sender, const std::string& action, int64_t value, const std::string& text)>;

// Progress travels as position × 100000 + maximum. A maximum that does not
// fit into five digits would spill into the position when the receiver splits
// the value, so position and maximum are then scaled down together to keep the
// ratio the bar shows.
inline int64_t EncodeProgress(int64_t position, int64_t maximum) {
    constexpr int64_t limit = 99999;
    if (maximum > limit) {
        position = position * limit / maximum;
        maximum = limit;
    }
    return position * 100000 + maximum;
}

inline int64_t ProgressPosition(int64_t value) { return value / 100000; }
inline int64_t ProgressMaximum(int64_t value) { return value % 100000; }

} // namespace brenvo
