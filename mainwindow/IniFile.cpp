#include "mainwindow/IniFile.h"

#include "lib/base/Cp1252.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

const std::pair<std::string, std::string>* FindValue(const TIniSection& s, std::string_view key) {
    for (const auto& kv : s.Values)
        if (SameText(kv.first, key)) return &kv;
    return nullptr;
}

} // namespace

std::string TIniSection::Value(std::string_view key) const {
    const auto* kv = FindValue(*this, key);
    return kv ? kv->second : std::string();
}

bool TIniSection::HasValue(std::string_view key) const { return FindValue(*this, key) != nullptr; }

std::vector<TIniSection> ParseIniText(std::string_view text) {
    if (StartsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string utf8 = IsValidUtf8(text) ? std::string(text) : Cp1252ToUtf8(text);

    std::vector<TIniSection> sections;
    TIniSection* current = nullptr;
    for (const std::string& raw : SplitLines(utf8)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            current = nullptr;
            for (TIniSection& s : sections)
                if (SameText(s.Name, name)) current = &s;
            if (!current) {
                sections.push_back(TIniSection{name, {}});
                current = &sections.back();
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (!current || eq == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (key.empty() || current->HasValue(key)) continue;
        current->Values.emplace_back(key, std::move(value));
    }
    return sections;
}

std::vector<TIniSection> ReadIniFile(const std::string& path) { return ParseIniText(ReadFileBytes(path)); }

} // namespace brenvo
