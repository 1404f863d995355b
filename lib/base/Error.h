#pragma once

#include <stdexcept>
#include <string>

namespace brenvo {

// Every failure of the program is an Error carrying the German message that
// the user sees (or that ends up in the activity log).
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace brenvo
