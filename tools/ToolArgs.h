#pragma once

// Numbers on the command lines of the generator tools.

#include <cstdint>
#include <optional>
#include <string_view>

#include "lib/base/Strings.h"

namespace brenvo {

// A whole number from 0 up; nullopt for anything else.
inline std::optional<int64_t> ParseCount(std::string_view s) {
    const std::optional<int64_t> v = ParseInt(s);
    if (!v || *v < 0) return std::nullopt;
    return v;
}

// The number after the option argv[i] (i moves on to it); nullopt when the
// option is the last argument or its value is not a ParseCount number.
inline std::optional<int64_t> OptionCount(int argc, char** argv, int& i) {
    if (i + 1 >= argc) return std::nullopt;
    return ParseCount(argv[++i]);
}

} // namespace brenvo
