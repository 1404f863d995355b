#pragma once

#include <string>

namespace brenvo {

// Where the long operations of the main window report to: the load panel's
// progress bar and label, and the activity log. The main window implements
// it; tests and the console program implement it with a plain log.
class IProgressSink {
public:
    virtual ~IProgressSink() = default;

    // Progress on the load panel: bar range 0 to maximum, the position as
    // given (no correction), the text in the panel's label. With log set the
    // text is also appended to the activity log, without prefix.
    virtual void ShowLoadProgress(int position, int maximum, bool log, const std::string& text) = 0;

    // Appends one line to the activity log.
    virtual void LogLine(const std::string& text) = 0;
};

} // namespace brenvo
