#pragma once

// A forward-only reader of XML text, used for table files: the rows of a data
// packet are read straight out of the text, without building a document in
// memory. Element and attribute names and attribute values are handed out as
// views into the text; values are decoded (entities, whitespace) only when
// they need it.
//
// Accepted: the XML declaration and other processing instructions, comments,
// CDATA sections and text between elements (all skipped), a document type
// declaration without internal subset, and elements with attributes in single
// or double quotes. Malformed markup (unclosed or crossed elements, a second
// root element, unknown entities, text outside the root) fails with the line
// number where the fault was found.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::detail {

class XmlScanner {
public:
    // The text must be UTF-8 and outlive the scanner.
    explicit XmlScanner(std::string_view text);

    enum class Event { Start, End, Eof };
    // The next start or end of an element. A start tag's remaining attributes
    // are skipped; an empty-element tag gives a Start followed by an End.
    Event Next();
    std::string_view Name() const { return name_; }   // of the last Start or End
    int Depth() const { return int(open_.size()); }   // open elements after the last event

    // The next attribute of the current start tag; false after the last one.
    bool NextAttribute(std::string_view& name, std::string_view& rawValue);
    // The attribute value as it reads (entities resolved, line ends and tabs
    // as blanks); uses `scratch` only when the raw text needs decoding.
    std::string_view Decode(std::string_view raw, std::string& scratch) const;

    // Skips everything up to and including the end of the element just started.
    void SkipElement();

    // Thrown for malformed text; `line` is 1-based.
    struct SyntaxError {
        size_t line;
        std::string what;
    };

private:
    [[noreturn]] void Fail(const char* at, const char* what) const;
    void SkipSpace();
    std::string_view ReadName();
    void FinishTag();

    const char* begin_;
    const char* p_;
    const char* end_;
    std::string_view name_;
    std::vector<std::string_view> open_;
    bool inTag_ = false;          // inside a start tag whose attributes are not all read
    bool pendingEnd_ = false;     // an empty-element tag still owes its End
    bool rootSeen_ = false;
};

} // namespace brenvo::detail
