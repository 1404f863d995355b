#pragma once

// Filter expressions of tables: comparisons of a column with a literal (or
// with another column), joined with AND, OR, NOT and parentheses.
//
//   KTS_SNAME = 'KT804'
//   ISVERWEIS <> 'T' AND ISDATEN = 'T'
//   r_datum >= '01.03.2024' and r_datum <= '31.03.2024'
//   A_ID = 12
//   (A = 1 OR A = 2) AND NOT B IS NULL

#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "TableImpl.h"

namespace brenvo::detail {

class FilterExpr {
public:
    // Parses the expression for the given columns. Fails with Error naming the
    // expression on a syntax error, an unknown column or a literal that does
    // not fit its column. A blank expression gives null.
    static std::unique_ptr<FilterExpr> Parse(std::string_view text, const std::vector<FieldDef>& fields,
                                             const NameIndex& names);

    bool Matches(std::span<const Value> values) const;

    enum class Op { Eq, Ne, Lt, Le, Gt, Ge, IsNull, NotNull };
    enum class Kind { And, Or, Not, Compare };
    struct Node {
        Kind kind = Kind::Compare;
        int a = -1, b = -1;      // And/Or/Not: child nodes
        Op op = Op::Eq;
        int col = -1;            // Compare: the column on the left
        int col2 = -1;           // Compare: a column on the right, or -1 for the literal
        bool text = false;       // the column holds text
        Value literal;
    };

private:
    bool Eval(int node, std::span<const Value> values) const;
    std::vector<Node> nodes_;
    int root_ = -1;
    friend class FilterParser;
};

} // namespace brenvo::detail
