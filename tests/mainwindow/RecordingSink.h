#pragma once

#include <string>
#include <vector>

#include "mainwindow/ProgressSink.h"

// Keeps everything reported to the load panel and the log.
struct RecordingSink : brenvo::IProgressSink {
    struct Progress {
        int position, maximum;
        bool log;
        std::string text;
    };
    std::vector<Progress> progress;
    std::vector<std::string> log;

    void ShowLoadProgress(int position, int maximum, bool logIt, const std::string& text) override {
        progress.push_back({position, maximum, logIt, text});
        if (logIt) log.push_back(text);
    }
    void LogLine(const std::string& text) override { log.push_back(text); }

    bool Logged(const std::string& line) const {
        for (const auto& l : log)
            if (l == line) return true;
        return false;
    }
};
