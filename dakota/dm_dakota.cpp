#include "dm_dakota.h"

#include <algorithm>
#include <cmath>

#include "dakota/dbx_access_connect.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

const char* const ProtocolTable = "tblProtokoll";

// A small reader over the characters of a date text.
struct Cursor {
    const std::string& s;
    size_t i = 0;
    bool End() const { return i >= s.size(); }
    bool Take(char c) {
        if (!End() && s[i] == c) { ++i; return true; }
        return false;
    }
    // Up to maxDigits digits; the count read goes to digits.
    bool Number(int maxDigits, int& value, int* digits = nullptr) {
        int n = 0;
        value = 0;
        while (!End() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
            value = value * 10 + (s[i] - '0');
            ++i;
            ++n;
        }
        if (digits) *digits = n;
        return n > 0;
    }
};

bool IsTextType(short t) {
    return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR || t == SQL_WVARCHAR ||
           t == SQL_WLONGVARCHAR;
}

// Columns whose values cannot be compared reliably as text in a WHERE clause.
bool IsUncomparableType(short t) {
    return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY || t == SQL_FLOAT || t == SQL_REAL ||
           t == SQL_DOUBLE;
}

std::string TrimBlanksRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool ReadBool(const std::optional<std::string>& v) {
    if (!v) return false;
    std::string t = Trim(*v);
    if (auto n = ParseDecimal(t)) return *n != 0.0;
    for (const char* yes : {"true", "yes", "ja", "wahr", "t", "y", "j"})
        if (SameText(t, yes)) return true;
    return false;
}

// Sort order of the second key: numbers by value, other texts by their bytes,
// numbers before texts.
int ComparePnr(const std::string& a, const std::string& b) {
    auto na = ParseDecimal(a), nb = ParseDecimal(b);
    if (na && nb) return *na < *nb ? -1 : (*na > *nb ? 1 : 0);
    if (na) return -1;
    if (nb) return 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

} // namespace

std::optional<TDateTime> ParseProtocolDateTime(const std::string& text) {
    const std::string s = Trim(text);
    Cursor c{s};
    int a = 0, b = 0, y = 0, da = 0, db = 0, dy = 0;
    int year, month, day;
    if (!c.Number(4, a, &da)) return std::nullopt;
    if (da == 4 && c.Take('-')) {   // YYYY-MM-DD
        if (!c.Number(2, b) || !c.Take('-') || !c.Number(2, y)) return std::nullopt;
        year = a, month = b, day = y;
    } else if (da <= 2 && c.Take('.')) {   // D.M.YYYY
        if (!c.Number(2, b, &db) || !c.Take('.') || !c.Number(4, y, &dy) || dy != 4) return std::nullopt;
        year = y, month = b, day = a;
    } else if (da <= 2 && c.Take('/')) {   // M/D/YY or M/D/YYYY
        if (!c.Number(2, b, &db) || !c.Take('/') || !c.Number(4, y, &dy) || (dy != 2 && dy != 4))
            return std::nullopt;
        if (dy == 2) y += y < 50 ? 2000 : 1900;
        year = y, month = a, day = b;
    } else {
        return std::nullopt;
    }
    int hour = 0, minute = 0, second = 0, ms = 0;
    if (!c.End()) {
        if (!c.Take(' ') && !c.Take('T')) return std::nullopt;
        while (c.Take(' ')) {}
        if (!c.Number(2, hour) || !c.Take(':') || !c.Number(2, minute)) return std::nullopt;
        if (c.Take(':')) {
            if (!c.Number(2, second)) return std::nullopt;
            if (c.Take('.')) {
                int frac = 0, fd = 0;
                if (!c.Number(9, frac, &fd)) return std::nullopt;
                while (fd > 3) { frac /= 10; --fd; }
                while (fd < 3) { frac *= 10; ++fd; }
                ms = frac;
            }
        }
        if (!c.End()) return std::nullopt;
    }
    if (!IsValidDate(year, month, day) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return EncodeDateTime(year, month, day, hour, minute, second, ms);
}

TdmDakota::TdmDakota() = default;

TdmDakota::~TdmDakota() { CloseProtocol(); }

bool TdmDakota::Active() const { return conn_ != nullptr; }

bool TdmDakota::OpenProtocol(const std::string& source, std::string& reason) {
    CloseProtocol();
    reason.clear();
    if (Trim(source).empty()) {
        reason = "Keine Zugriffs-Information verfügbar. ";
        return false;
    }
    try {
        std::string connectionString;
        if (Contains(UpperCase(source), "MDB")) {
            if (!FileExists(source)) {
                reason = Format("Datei %s nicht gefunden.", {source});
                return false;
            }
            connectionString = AccessFileConnectionString(source);
        } else {
            connectionString = AccessDsnConnectionString(source);
        }
        env_ = std::make_unique<OdbcEnvironment>();
        conn_ = std::make_unique<OdbcConnection>(*env_);
        conn_->Connect(connectionString);
        ReadRows();
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
        CloseProtocol();
        return false;
    }
}

void TdmDakota::ReadRows() {
    OdbcStatement st(*conn_);
    st.ExecDirect(std::string("select * from ") + ProtocolTable);
    columns_.clear();
    for (const auto& c : st.Columns()) columns_.push_back(Column{c.Name, c.SqlType});

    auto find = [&](const char* name) -> int {
        for (size_t i = 0; i < columns_.size(); ++i)
            if (SameText(columns_[i].name, name)) return static_cast<int>(i);
        return -1;
    };
    const int cIndex = find("INDEX"), cPnr = find("PNR"), cDatum = find("DATUM"), cErgebnis = find("ERGEBNIS"),
              cVersenden = find("Versenden"), cAktion = find("AKTION"), cDateiname = find("DATEINAME");
    const std::pair<int, const char*> required[] = {{cIndex, "INDEX"},         {cPnr, "PNR"},
                                                    {cDatum, "DATUM"},         {cErgebnis, "ERGEBNIS"},
                                                    {cVersenden, "Versenden"}, {cAktion, "AKTION"}};
    for (const auto& [col, name] : required)
        if (col < 0) throw Error(Format("Feld '%s' nicht gefunden", {name}));

    while (st.Fetch()) {
        Entry e;
        e.raw.reserve(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i) e.raw.push_back(st.GetText(static_cast<SQLUSMALLINT>(i + 1)));
        auto text = [&](int col) -> std::string {
            if (col < 0 || !e.raw[col]) return {};
            return IsTextType(columns_[col].sqlType) ? TrimBlanksRight(*e.raw[col]) : *e.raw[col];
        };
        e.row.INDEX = text(cIndex);
        e.row.PNR = text(cPnr);
        if (e.raw[cDatum]) e.row.DATUM = ParseProtocolDateTime(*e.raw[cDatum]).value_or(TDateTime());
        e.row.ERGEBNIS = ReadBool(e.raw[cErgebnis]);
        e.row.Versenden = text(cVersenden);
        e.row.AKTION = text(cAktion);
        e.row.DATEINAME = text(cDateiname);
        rows_.push_back(std::move(e));
    }
    pos_ = 0;
    SkipDeleted();
}

void TdmDakota::BuildIndex() {
    sorted_.clear();
    for (size_t i = 0; i < rows_.size(); ++i) sorted_.push_back(i);
    std::stable_sort(sorted_.begin(), sorted_.end(), [&](size_t a, size_t b) {
        const TProtocolRow& x = rows_[a].row;
        const TProtocolRow& y = rows_[b].row;
        if (int c = x.INDEX.compare(y.INDEX)) return c < 0;
        return ComparePnr(x.PNR, y.PNR) < 0;
    });
    indexBuilt_ = true;
}

int TdmDakota::FindTransferResult(const std::string& name, TDateTime created, TDateTime& sent) {
    sent = TDateTime();
    if (!Active()) throw Error("TdmDakota: Protokoll ist nicht geöffnet.");
    if (!indexBuilt_) BuildIndex();
    // The first row (by INDEX) whose INDEX begins with name, then every row
    // whose INDEX starts with exactly that transfer name.
    auto it = std::lower_bound(sorted_.begin(), sorted_.end(), name,
                               [&](size_t i, const std::string& key) { return rows_[i].row.INDEX < key; });
    // A transfer DAKOTA repeated after a failure has a failed row before the
    // successful one: any successful row in the window counts, a failure
    // only when there is none.
    int result = TransferNotFound;
    for (; it != sorted_.end(); ++it) {
        const Entry& e = rows_[*it];
        if (e.deleted) continue;
        if (!StartsWith(e.row.INDEX, name)) break;
        if (Utf8Left(e.row.INDEX, 8) != name) break;
        if (e.row.DATUM.IsNull()) continue;
        if (std::fabs(e.row.DATUM.Value() - created.Value()) >= 2.0) continue;
        result = TransferFailed;
        if (!e.row.ERGEBNIS) continue;
        auto when = ParseProtocolDateTime(e.row.Versenden);
        if (!when) continue;
        sent = *when;
        return TransferSent;
    }
    return result;
}

size_t TdmDakota::RecordCount() const {
    return static_cast<size_t>(std::count_if(rows_.begin(), rows_.end(), [](const Entry& e) { return !e.deleted; }));
}

void TdmDakota::SkipDeleted() {
    while (pos_ < rows_.size() && rows_[pos_].deleted) ++pos_;
}

void TdmDakota::First() {
    pos_ = 0;
    SkipDeleted();
}

void TdmDakota::Next() {
    if (pos_ < rows_.size()) ++pos_;
    SkipDeleted();
}

bool TdmDakota::Eof() const { return pos_ >= rows_.size(); }

const TProtocolRow& TdmDakota::Current() const {
    if (Eof()) throw Error("TdmDakota: kein aktueller Protokolleintrag.");
    return rows_[pos_].row;
}

void TdmDakota::Delete() {
    if (Eof()) throw Error("TdmDakota: kein aktueller Protokolleintrag.");
    rows_[pos_].deleted = true;
    Next();
}

size_t TdmDakota::ChangeCount() const {
    return static_cast<size_t>(
        std::count_if(rows_.begin(), rows_.end(), [](const Entry& e) { return e.deleted && !e.written; }));
}

void TdmDakota::DeleteFromDatabase(const Entry& e) {
    // The row is named by all its comparable values, as they were read.
    const std::string q = conn_->IdentifierQuote();
    std::string sql = std::string("DELETE FROM ") + ProtocolTable + " WHERE ";
    std::vector<std::pair<SQLUSMALLINT, std::string>> params;
    bool first = true;
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (IsUncomparableType(columns_[i].sqlType)) continue;
        if (!first) sql += " AND ";
        first = false;
        sql += q + columns_[i].name + q;
        if (e.raw[i]) {
            sql += " = ?";
            params.emplace_back(static_cast<SQLUSMALLINT>(params.size() + 1), *e.raw[i]);
        } else {
            sql += " IS NULL";
        }
    }
    OdbcStatement st(*conn_);
    st.Prepare(sql);
    for (const auto& [n, v] : params) st.BindText(n, v);
    st.Execute();
    if (st.RowCount() < 1)
        throw Error(Format("Protokolleintrag %s nicht gefunden oder geändert.", {e.row.INDEX}));
}

void TdmDakota::ApplyProtocolChanges() {
    if (!Active()) throw Error("TdmDakota: Protokoll ist nicht geöffnet.");
    if (ChangeCount() == 0) return;
    const bool transaction = conn_->SetAutoCommit(false);
    try {
        for (auto& e : rows_) {
            if (!e.deleted || e.written) continue;
            DeleteFromDatabase(e);
            if (!transaction) e.written = true;
        }
        if (transaction) {
            conn_->Commit();
            conn_->SetAutoCommit(true);
            for (auto& e : rows_)
                if (e.deleted) e.written = true;
        }
    } catch (...) {
        if (transaction) {
            try {
                conn_->Rollback();
            } catch (...) {
                // the first failure is the one to report
            }
            conn_->SetAutoCommit(true);
        }
        throw;
    }
}

void TdmDakota::CloseProtocol() {
    rows_.clear();
    columns_.clear();
    sorted_.clear();
    indexBuilt_ = false;
    pos_ = 0;
    conn_.reset();
    env_.reset();
}

} // namespace brenvo
