#include "FilterExpr.h"

#include <cctype>
#include <string>

#include "../base/DateTime.h"
#include "../base/Error.h"
#include "../base/Strings.h"

namespace brenvo::detail {

namespace {

enum class Tok { Ident, Text, Number, Op, LParen, RParen, End };

struct Token {
    Tok kind = Tok::End;
    std::string text;   // identifier, text literal (unquoted), number or operator
    size_t pos = 0;     // 1-based character position for messages
};

bool IsIdentStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsIdentChar(unsigned char c) { return std::isalnum(c) || c == '_' || c >= 0x80; }

} // namespace

class FilterParser {
public:
    FilterParser(std::string_view text, const std::vector<FieldDef>& fields, const NameIndex& names,
                 FilterExpr& out)
        : text_(text), fields_(fields), names_(names), out_(out) {}

    void Run() {
        Advance();
        out_.root_ = ParseOr();
        if (tok_.kind != Tok::End) Fail("unerwartetes \"" + tok_.text + "\" an Position " + std::to_string(tok_.pos));
    }

private:
    [[noreturn]] void Fail(const std::string& detail) const {
        throw Error("Filterausdruck \"" + std::string(text_) + "\" ist ungültig: " + detail);
    }

    void Advance() {
        size_t& i = pos_;
        while (i < text_.size() && std::isspace(static_cast<unsigned char>(text_[i]))) ++i;
        tok_ = Token();
        tok_.pos = i + 1;
        if (i >= text_.size()) return;
        unsigned char c = static_cast<unsigned char>(text_[i]);
        if (c == '(' || c == ')') {
            tok_.kind = c == '(' ? Tok::LParen : Tok::RParen;
            tok_.text = std::string(1, char(c));
            ++i;
        } else if (c == '\'') {
            tok_.kind = Tok::Text;
            ++i;
            for (;;) {
                if (i >= text_.size()) Fail("Text ohne schließendes Hochkomma ab Position " + std::to_string(tok_.pos));
                if (text_[i] == '\'') {
                    if (i + 1 < text_.size() && text_[i + 1] == '\'') {
                        tok_.text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                tok_.text += text_[i++];
            }
        } else if (c == '[') {
            size_t end = text_.find(']', i + 1);
            if (end == std::string_view::npos) Fail("Feldname ohne schließende Klammer ab Position " + std::to_string(tok_.pos));
            tok_.kind = Tok::Ident;
            tok_.text = std::string(text_.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (std::isdigit(c) || ((c == '-' || c == '+' || c == '.') && i + 1 < text_.size() &&
                                       (std::isdigit(static_cast<unsigned char>(text_[i + 1])) || text_[i + 1] == '.'))) {
            tok_.kind = Tok::Number;
            size_t b = i++;
            while (i < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[i])) || text_[i] == '.' ||
                                        ((text_[i] == '-' || text_[i] == '+') && (text_[i - 1] == 'e' || text_[i - 1] == 'E'))))
                ++i;
            tok_.text = std::string(text_.substr(b, i - b));
        } else if (IsIdentStart(c)) {
            tok_.kind = Tok::Ident;
            size_t b = i;
            while (i < text_.size() && IsIdentChar(static_cast<unsigned char>(text_[i]))) ++i;
            tok_.text = std::string(text_.substr(b, i - b));
        } else if (c == '=' || c == '<' || c == '>' || c == '!') {
            tok_.kind = Tok::Op;
            size_t b = i++;
            if (i < text_.size() && (text_[i] == '=' || (c == '<' && text_[i] == '>'))) ++i;
            tok_.text = std::string(text_.substr(b, i - b));
            if (tok_.text == "!") Fail("unbekannter Operator \"!\" an Position " + std::to_string(tok_.pos));
        } else {
            Fail("unerwartetes Zeichen \"" + Utf8Left(text_.substr(i), 1) + "\" an Position " + std::to_string(tok_.pos));
        }
    }

    bool IsKeyword(const char* kw) const { return tok_.kind == Tok::Ident && SameText(tok_.text, kw); }

    int Add(FilterExpr::Node n) {
        out_.nodes_.push_back(std::move(n));
        return int(out_.nodes_.size()) - 1;
    }

    int ParseOr() {
        int left = ParseAnd();
        while (IsKeyword("OR")) {
            Advance();
            FilterExpr::Node n;
            n.kind = FilterExpr::Kind::Or;
            n.a = left;
            n.b = ParseAnd();
            left = Add(std::move(n));
        }
        return left;
    }

    int ParseAnd() {
        int left = ParseNot();
        while (IsKeyword("AND")) {
            Advance();
            FilterExpr::Node n;
            n.kind = FilterExpr::Kind::And;
            n.a = left;
            n.b = ParseNot();
            left = Add(std::move(n));
        }
        return left;
    }

    int ParseNot() {
        if (IsKeyword("NOT")) {
            Advance();
            FilterExpr::Node n;
            n.kind = FilterExpr::Kind::Not;
            n.a = ParseNot();
            return Add(std::move(n));
        }
        return ParsePrimary();
    }

    int ParsePrimary() {
        if (tok_.kind == Tok::LParen) {
            Advance();
            int inner = ParseOr();
            if (tok_.kind != Tok::RParen) Fail("\")\" fehlt an Position " + std::to_string(tok_.pos));
            Advance();
            return inner;
        }
        return ParseComparison();
    }

    // An operand: a column (index >= 0) or a literal token.
    struct Operand {
        int col = -1;
        Token lit;
    };

    bool IsLiteralKeyword() const { return IsKeyword("NULL") || IsKeyword("TRUE") || IsKeyword("FALSE"); }

    Operand ParseOperand() {
        Operand o;
        if (tok_.kind == Tok::Ident && !IsLiteralKeyword()) {
            if (IsKeyword("AND") || IsKeyword("OR") || IsKeyword("NOT") || IsKeyword("IS"))
                Fail("Feldname oder Wert erwartet an Position " + std::to_string(tok_.pos));
            o.col = names_.Find(tok_.text);
            if (o.col < 0) Fail("unbekanntes Feld \"" + tok_.text + "\"");
            if (fields_[size_t(o.col)].type == FieldType::Nested)
                Fail("das Feld \"" + tok_.text + "\" ist eine verschachtelte Tabelle");
        } else if (tok_.kind == Tok::Text || tok_.kind == Tok::Number || tok_.kind == Tok::Ident) {
            o.lit = tok_;
        } else if (tok_.kind == Tok::End) {
            Fail("unerwartetes Ende");
        } else {
            Fail("Feldname oder Wert erwartet an Position " + std::to_string(tok_.pos));
        }
        Advance();
        return o;
    }

    static FilterExpr::Op Mirror(FilterExpr::Op op) {
        using Op = FilterExpr::Op;
        switch (op) {
        case Op::Lt: return Op::Gt;
        case Op::Le: return Op::Ge;
        case Op::Gt: return Op::Lt;
        case Op::Ge: return Op::Le;
        default: return op;
        }
    }

    int ParseComparison() {
        Operand left = ParseOperand();
        FilterExpr::Node n;
        n.kind = FilterExpr::Kind::Compare;
        if (IsKeyword("IS")) {
            if (left.col < 0) Fail("Feldname vor IS erwartet");
            Advance();
            bool negated = false;
            if (IsKeyword("NOT")) {
                negated = true;
                Advance();
            }
            if (!IsKeyword("NULL")) Fail("NULL erwartet an Position " + std::to_string(tok_.pos));
            Advance();
            n.op = negated ? FilterExpr::Op::NotNull : FilterExpr::Op::IsNull;
            n.col = left.col;
            n.text = IsTextType(fields_[size_t(left.col)].type);
            return Add(std::move(n));
        }
        if (tok_.kind != Tok::Op) {
            if (tok_.kind == Tok::End) Fail("Vergleichsoperator fehlt am Ende");
            Fail("Vergleichsoperator erwartet an Position " + std::to_string(tok_.pos));
        }
        const std::string& o = tok_.text;
        using Op = FilterExpr::Op;
        if (o == "=") n.op = Op::Eq;
        else if (o == "<>" || o == "!=") n.op = Op::Ne;
        else if (o == "<") n.op = Op::Lt;
        else if (o == "<=") n.op = Op::Le;
        else if (o == ">") n.op = Op::Gt;
        else if (o == ">=") n.op = Op::Ge;
        else Fail("unbekannter Operator \"" + o + "\"");
        Advance();
        Operand right = ParseOperand();
        if (left.col < 0 && right.col < 0) Fail("ein Vergleich braucht ein Feld");
        if (left.col < 0) {
            std::swap(left, right);
            n.op = Mirror(n.op);
        }
        n.col = left.col;
        const FieldDef& f = fields_[size_t(n.col)];
        n.text = IsTextType(f.type);
        if (right.col >= 0) {
            n.col2 = right.col;
            n.text = n.text && IsTextType(fields_[size_t(right.col)].type);
        } else {
            n.literal = Literal(f, right.lit);
        }
        return Add(std::move(n));
    }

    // The literal as a value of the column's type.
    Value Literal(const FieldDef& f, const Token& t) const {
        auto unfit = [&]() -> Value {
            Fail("der Wert \"" + t.text + "\" passt nicht zum Feld \"" + f.name + "\"");
        };
        bool keywordNull = t.kind == Tok::Ident && SameText(t.text, "NULL");
        bool keywordTrue = t.kind == Tok::Ident && SameText(t.text, "TRUE");
        bool keywordFalse = t.kind == Tok::Ident && SameText(t.text, "FALSE");
        if (keywordNull) return Value();
        switch (f.type) {
        case FieldType::String:
        case FieldType::Memo:
            if (keywordTrue) return std::string("True");
            if (keywordFalse) return std::string("False");
            return t.text;
        case FieldType::Integer:
        case FieldType::Float: {
            if (keywordTrue || keywordFalse) return unfit();
            std::string s = Trim(t.text);
            if (s.empty() && t.kind == Tok::Text) return Value();
            if (f.type == FieldType::Integer) {
                if (auto i = ParseInt(s)) return *i;
            }
            if (s.find(',') == std::string::npos) {
                // An integer column compares with a fraction numerically.
                if (auto d = ParseDecimal(s)) return *d;
            }
            return unfit();
        }
        case FieldType::Boolean: {
            if (keywordTrue) return true;
            if (keywordFalse) return false;
            std::string s = Trim(t.text);
            if (SameText(s, "T") || SameText(s, "True") || s == "1") return true;
            if (SameText(s, "F") || SameText(s, "False") || s == "0") return false;
            if (s.empty() && t.kind == Tok::Text) return Value();
            return unfit();
        }
        case FieldType::DateTime: {
            if (t.kind != Tok::Text) return unfit();
            if (Trim(t.text).empty()) return Value();
            if (auto d = ParseGermanDateTime(t.text)) return *d;
            return unfit();
        }
        case FieldType::Nested:
            break;
        }
        return unfit();
    }

    std::string_view text_;
    const std::vector<FieldDef>& fields_;
    const NameIndex& names_;
    FilterExpr& out_;
    size_t pos_ = 0;
    Token tok_;
};

std::unique_ptr<FilterExpr> FilterExpr::Parse(std::string_view text, const std::vector<FieldDef>& fields,
                                              const NameIndex& names) {
    if (Trim(text).empty()) return nullptr;
    auto expr = std::make_unique<FilterExpr>();
    FilterParser(text, fields, names, *expr).Run();
    return expr;
}

bool FilterExpr::Matches(std::span<const Value> values) const { return Eval(root_, values); }

bool FilterExpr::Eval(int index, std::span<const Value> values) const {
    const Node& n = nodes_[size_t(index)];
    switch (n.kind) {
    case Kind::And: return Eval(n.a, values) && Eval(n.b, values);
    case Kind::Or: return Eval(n.a, values) || Eval(n.b, values);
    case Kind::Not: return !Eval(n.a, values);
    case Kind::Compare: break;
    }
    const Value& v = values[size_t(n.col)];
    if (n.op == Op::IsNull || n.op == Op::NotNull) {
        bool isNull = IsNullValue(v) || (n.text && std::get<std::string>(v).empty());
        return (n.op == Op::IsNull) == isNull;
    }
    const Value& other = n.col2 >= 0 ? values[size_t(n.col2)] : n.literal;
    int c = n.text ? CompareSearch(v, other, true) : CompareValues(v, other);
    switch (n.op) {
    case Op::Eq: return c == 0;
    case Op::Ne: return c != 0;
    case Op::Lt: return c < 0;
    case Op::Le: return c <= 0;
    case Op::Gt: return c > 0;
    case Op::Ge: return c >= 0;
    default: return false;
    }
}

} // namespace brenvo::detail
