#pragma once

// The real cost-bearer files and the tables they must give
// (tests/costbearer/data), and a row-by-row comparison of tables.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/base/Files.h"
#include "lib/dataset/Table.h"

namespace kttest {

inline std::string DataDir(const std::string& sub) {
    return std::string(BRENVO_SOURCE_DIR) + "/tests/costbearer/data/" + sub;
}

// The KOTR files of a data directory, in listing order.
inline std::vector<std::string> KotrFiles(const std::string& sub) {
    std::vector<std::string> files;
    for (const std::string& name : brenvo::ListFiles(DataDir(sub), "*.k*")) files.push_back(DataDir(sub) + "/" + name);
    return files;
}

// Every row of `expected` equals the row at the same position in `actual`,
// column by column (null and empty texts alike); reports the first few differences.
inline void ExpectSameRows(brenvo::Table& expected, brenvo::Table& actual, const std::string& what) {
    ASSERT_EQ(actual.RecordCount(), expected.RecordCount()) << what;
    std::vector<std::pair<int, int>> columns;
    for (int i = 0; i < expected.FieldCount(); ++i) {
        const int j = actual.FieldIndex(expected.Field(i).name);
        ASSERT_GE(j, 0) << what << ": column " << expected.Field(i).name << " missing";
        columns.emplace_back(i, j);
    }
    int differences = 0;
    expected.First();
    actual.First();
    for (int row = 1; !expected.Eof() && differences < 5; ++row, expected.Next(), actual.Next())
        for (auto [i, j] : columns)
            if (expected.AsString(i) != actual.AsString(j)) {
                ADD_FAILURE() << what << " row " << row << " " << expected.Field(i).name << ": expected \""
                              << expected.AsString(i) << "\", got \"" << actual.AsString(j) << "\"";
                if (++differences >= 5) break;
            }
}

} // namespace kttest
