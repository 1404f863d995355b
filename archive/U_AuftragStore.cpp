#include "archive/U_AuftragStore.h"

#include <algorithm>
#include <set>

#include "archive/Staging.h"
#include "billing/U_SGBAuftrag.h"
#include "lib/base/Cp1252.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// Index slots.
constexpr int kByHandle = 0;
constexpr int kById = 1;

// Characters pos..pos+len-1 (1-based) of a single-byte record, as UTF-8 with
// blanks trimmed; missing positions give fewer characters.
std::string RecordField(const std::string& record, size_t pos, size_t len) {
    if (record.size() < pos) return std::string();
    return Trim(Cp1252ToUtf8(record.substr(pos - 1, len)));
}

// Splits a text at a delimiter the way the segment reader of the billing
// files always has: blanks and control characters also end a part (and are
// skipped around delimiters), a part that begins with a double quote runs to
// the closing quote (a doubled quote standing for one), and a delimiter at
// the very end adds an empty part.
std::vector<std::string> SplitDelimited(const std::string& text, char delimiter) {
    std::vector<std::string> parts;
    const char quote = '"';
    auto isBlank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
    size_t p = 0;
    const size_t n = text.size();
    auto at = [&](size_t i) { return i < n ? text[i] : '\0'; };
    while (isBlank(at(p))) ++p;
    while (at(p) != '\0') {
        std::string part;
        if (at(p) == quote) {
            ++p;
            while (at(p) != '\0') {
                if (at(p) == quote) {
                    ++p;
                    if (at(p) != quote) break;
                }
                part += at(p);
                ++p;
            }
        } else {
            const size_t start = p;
            while (static_cast<unsigned char>(at(p)) > ' ' && at(p) != delimiter) ++p;
            part = text.substr(start, p - start);
        }
        parts.push_back(std::move(part));
        while (isBlank(at(p))) ++p;
        if (at(p) == delimiter) {
            if (at(p + 1) == '\0') parts.emplace_back();
            do {
                ++p;
            } while (isBlank(at(p)));
        }
    }
    return parts;
}

struct TextLess {
    bool operator()(const std::string& a, const std::string& b) const { return FileNameLess(a, b); }
};

} // namespace

std::vector<FieldDef> TAuftragSTore::DefaultFields() {
    return {FieldDef::Int("A_ID").WithXmlType("i4"),
            FieldDef::Str("A_HANDLE", 40),
            FieldDef::Date("A_ERZEUGT").WithXmlType("dateTime"),
            FieldDef::Date("A_VERSANDT").WithXmlType("dateTime"),
            FieldDef::Date("A_ENC").WithXmlType("dateTime"),
            FieldDef::Str("A_ABS_EIGN_IK", 9),
            FieldDef::Str("A_EMPF_IK", 9),
            FieldDef::Str("A_EMPF_NAME", 40),
            FieldDef::Str("A_EMPF_EMAIL", 100),
            FieldDef::Str("A_TRANSFER", 8),
            FieldDef::Str("DTAREF", 9)};
}

TAuftragSTore::TAuftragSTore()
    : table_(DefaultFields()),
      index_(table_, {{"A_HANDLE", TableKeyIndex::Kind::Exact}, {"A_ID", TableKeyIndex::Kind::Integer}}) {
    InstallRemovalRule();
}

TAuftragSTore::~TAuftragSTore() = default;

void TAuftragSTore::InitStore(const std::string& importDir, const std::string& archiveDir,
                              const std::string& dakotaOutDir, const std::string& dakotaHandoverDir,
                              const std::string& exportDir) {
    importDir_ = importDir;
    archiveDir_ = archiveDir;
    dakotaOutDir_ = dakotaOutDir;
    handoverDir_ = dakotaHandoverDir;
    exportDir_ = exportDir;
}

void TAuftragSTore::SetCallback(TArchiveCallback callback) { callback_ = std::move(callback); }

void TAuftragSTore::InstallRemovalRule() {
    table_.BeforeDelete = [this](Table& t) {
        RequireCallback();
        Notify("delete", t.AsInteger("A_ID"), "null");
    };
}

void TAuftragSTore::Notify(const std::string& action, int64_t value, const std::string& text) {
    if (callback_) callback_(this, action, value, text);
}

void TAuftragSTore::RequireCallback() const {
    if (!callback_) throw Error("Callback muss gesetzt sein.");
}

void TAuftragSTore::Load(const std::string& fileName) {
    table_.LoadFromFile(fileName);
    // Only a file that was read is written back.
    fileName_ = fileName;
    {
        TableKeyIndex::Suspend sorting(index_);
        table_.SetIndexFieldNames("A_ID");
    }
    // The index is built at the first search (loading left it stale).
    lastId_ = HighestInteger(table_, index_, "A_ID");
    ReplayJournal();
}

void TAuftragSTore::Save() {
    if (!table_.Active()) return;
    if (fileName_.empty()) throw Error("TAuftragSTore Save: keine Tabellendatei geladen");
    table_.MergeChangeLog();
    table_.SaveToFile(fileName_);
    // The table holds every journalled change now. Should the journal stay
    // (the delete refused), the next Load takes over the same values again.
    if (!journal_.empty() && FileExists(journal_)) DeleteFile(journal_);
}

// One line per change: the kind, the handle and, for "versandt", the moment
// as its day count; fields separated by tabs.
void TAuftragSTore::Journal(const std::string& line) {
    if (!journal_.empty()) AppendToFile(journal_, line + "\n", true);
}

void TAuftragSTore::ReplayJournal() {
    replayed_.clear();
    if (journal_.empty() || !FileExists(journal_)) return;
    const std::string text = ReadFileBytes(journal_);
    UnfilteredScope all(table_, index_);
    size_t start = 0;
    // A last line without its line end was being written when the program
    // stopped: that change never returned, so it is not taken.
    for (size_t end = text.find('\n'); end != std::string::npos; start = end + 1, end = text.find('\n', start)) {
        const std::vector<std::string> f = Split(text.substr(start, end - start), '\t');
        if (f.size() < 2 || !index_.GotoFirst(kByHandle, f[1])) continue;
        const std::string what = table_.AsString("A_TRANSFER") + " (" + f[1] + ")";
        if (f[0] == "versandt" && f.size() >= 3) {
            const auto days = ParseDecimal(f[2]);
            if (!days) continue;
            PostField("A_VERSANDT", TDateTime::FromValue(*days));
            replayed_.push_back("Auftrag " + what + " als versandt markiert.");
        } else if (f[0] == "nichtversandt") {
            PostField("A_VERSANDT", TDateTime());
            replayed_.push_back("Auftrag " + what + " als nicht versandt markiert.");
        } else if (f[0] == "geloescht") {
            table_.Delete();
            replayed_.push_back("Auftrag " + what + " gelöscht.");
        }
    }
}

void TAuftragSTore::FillOutbox() {
    RequireCallback();
    int64_t last = 0;
    index_.ForEach([&last](TableKeyIndex::Bookmark, const std::vector<std::string>& values) {
        if (auto id = ParseInt(values[kById])) last = std::max(last, *id);
    });
    lastId_ = last;

    UnfilteredScope all(table_, index_);
    const Table::Bookmark current = table_.GetBookmark();
    for (table_.First(); !table_.Eof(); table_.Next()) {
        if (table_.IsNull("A_VERSANDT"))
            Notify("insert", table_.AsInteger("A_ID"),
                   table_.AsString("A_TRANSFER") + " " + table_.AsString("A_EMPF_NAME"));
    }
    if (current != 0) table_.GotoBookmark(current);
}

void TAuftragSTore::AddOrder(const TSGBAuftrag& order) {
    const int64_t id = lastId_ + 1;
    table_.Append();
    try {
        table_.SetInteger("A_ID", id);
        table_.SetString("A_HANDLE", order.Handle());
        table_.SetDateTime("A_ERZEUGT", Now());
        table_.SetNull("A_VERSANDT");
        table_.SetString("A_ABS_EIGN_IK", order.AbsEignerIK());
        table_.SetString("A_EMPF_IK", order.EmpfPhysIK());
        table_.SetString("A_EMPF_NAME", order.EmpfName());
        table_.SetString("A_EMPF_EMAIL", order.EmpfEmail());
        table_.SetString("A_TRANSFER", order.TransferName());
        if (table_.HasField("DTAREF")) table_.SetString("DTAREF", IntToStr(order.DtaRef()));
        table_.Post();
    } catch (...) {
        table_.Cancel();
        throw;
    }
    lastId_ = id;
    if (callback_) Notify("insert", id, order.TransferName() + " " + order.EmpfName());
}

void TAuftragSTore::DeleteOrder(const TSGBAuftrag& order) { DeleteOrderByHandle(order.Handle()); }

void TAuftragSTore::DeleteOrderByHandle(const std::string& handle) {
    UnfilteredScope all(table_, index_);
    if (!index_.GotoFirst(kByHandle, handle)) throw Error(Format("Cannot delete Auftrag handle=%s", {handle}));
    table_.Delete();
}

bool TAuftragSTore::LocateById(int64_t id) { return index_.GotoFirst(kById, IntToStr(id)); }

bool TAuftragSTore::LocateByHandle(const std::string& handle) { return index_.GotoFirst(kByHandle, handle); }

bool TAuftragSTore::HasHandle(const std::string& handle) { return index_.Contains(kByHandle, handle); }

void TAuftragSTore::PostField(const std::string& name, TDateTime value) {
    table_.Edit();
    try {
        table_.SetDateTime(name, value);
        table_.Post();
    } catch (...) {
        table_.Cancel();
        throw;
    }
}

void TAuftragSTore::MarkSent(TDateTime when) {
    PostField("A_VERSANDT", when);
    Journal("versandt\t" + table_.AsString("A_HANDLE") + "\t" + FloatToText(when.Value()));
    RequireCallback();
    Notify("emailversandt", table_.AsInteger("A_ID"), "null");
}

void TAuftragSTore::MarkNotSent() {
    PostField("A_VERSANDT", TDateTime());
    Journal("nichtversandt\t" + table_.AsString("A_HANDLE"));
    RequireCallback();
    Notify("emailnichtversandt", table_.AsInteger("A_ID"), table_.AsString("A_EMPF_NAME"));
}

void TAuftragSTore::MarkEncrypted() { PostField("A_ENC", Now()); }

void TAuftragSTore::ClearEncrypted() { PostField("A_ENC", TDateTime()); }

std::string TAuftragSTore::GetArchivePath() { return PathJoin(archiveDir_, table_.AsString("A_HANDLE")); }

std::string TAuftragSTore::GetArchivePathById(int64_t id) {
    const auto found = index_.Find(kById, IntToStr(id));
    if (found.empty()) return std::string();
    const std::vector<std::string>* values = index_.ValuesOf(*std::min_element(found.begin(), found.end()));
    return values ? PathJoin(archiveDir_, (*values)[kByHandle]) : std::string();
}

void TAuftragSTore::DeleteCurrent() {
    const std::string handle = table_.AsString("A_HANDLE");
    table_.Delete();
    Journal("geloescht\t" + handle);
}

void TAuftragSTore::PublishStaged(const std::string& tempDir, const std::string& archiveDir,
                                  const std::string& handle) {
    const std::string staging = StagingDirOf(archiveDir);
    for (const char* ext : TSGBAuftrag::FileExts) {
        const std::string name = handle + ext;
        const std::string staged = PathJoin(staging, name);
        const std::string target = PathJoin(archiveDir, name);
        const std::string written = PathJoin(tempDir, name);
        if (FileExists(staged)) {
            if (FileExists(target))
                DeleteFile(staged);
            else if (!MoveFile(staged, target, false))
                throw Error(Format("Datei %s kann nicht nach %s verschoben werden", {staged, target}));
        } else if (!FileExists(target) && FileExists(written) && !LinkFile(written, target)) {
            CopyFileTo(written, target, true);
        }
    }
}

void TAuftragSTore::ReadRows(const std::vector<std::string>& keys,
                      const std::function<void(const std::string&, const Table&)>& fn) {
    ReadKeyedRows(table_, index_, kByHandle, keys, fn);
}

bool TAuftragSTore::RestoreRow(const std::string& handle, const std::function<void(Table&)>& fill) {
    if (!AppendKeyedRow(table_, index_, kByHandle, handle, fill)) return false;
    lastId_ = std::max(lastId_, table_.AsInteger("A_ID"));
    return true;
}

bool TAuftragSTore::ExportCurrent() {
    try {
        if (!table_.IsNull("A_VERSANDT")) return false;
        const std::string handle = table_.AsString("A_HANDLE");
        const std::string transfer = table_.AsString("A_TRANSFER");
        if (handle.empty() || transfer.empty()) return false;
        const std::string target = PathJoin(handoverDir_, Utf8Left(table_.AsString("A_EMPF_IK"), 8));
        if (!ForceDirectories(target)) return false;
        const std::string base = PathJoin(archiveDir_, handle);
        // The data first: whoever watches the hand-over directory starts from
        // the order record, which must not arrive before its data.
        if (!CopyFileTo(base, PathJoin(target, transfer), false)) return false;
        return CopyFileTo(base + ".AUF", PathJoin(target, transfer + ".AUF"), false);
    } catch (const std::exception&) {
        return false;
    }
}

int TAuftragSTore::ExportToDakota() {
    UnfilteredScope all(table_, index_);
    const int n = table_.RecordCount();
    int waiting = 0;
    int k = 0;
    for (table_.First(); !table_.Eof(); table_.Next()) {
        ++k;
        if (table_.IsNull("A_ENC") && table_.IsNull("A_VERSANDT")) ++waiting;
        Notify("progressnolog", EncodeProgress(k, n), "Suche Dateien");
    }
    Notify("progress", EncodeProgress(1, 1), Format("%d Datei(en) stehen zum Export an.", {waiting}));

    int exported = 0;
    k = 0;
    for (table_.First(); !table_.Eof(); table_.Next()) {
        ++k;
        if (!(table_.IsNull("A_ENC") && table_.IsNull("A_VERSANDT"))) continue;
        std::string text;
        if (ExportCurrent()) {
            ++exported;
            text = Format("Auftrag %s (%s) zu Dakota exportiert.",
                          {table_.AsString("A_ID"), table_.AsString("A_TRANSFER")});
        } else {
            text = Format("Auftrag %s NICHT zu Dakota exportiert.", {table_.AsString("A_ID")});
        }
        Notify("progress", EncodeProgress(k, n), text);
    }
    return exported;
}

bool TAuftragSTore::PrepareEmail(TEmailData& data) {
    try {
        if (table_.IsEmpty() || !table_.IsNull("A_VERSANDT")) return false;
        const std::string handle = table_.AsString("A_HANDLE");
        const std::string transfer = table_.AsString("A_TRANSFER");
        const std::string recipientIK = table_.AsString("A_EMPF_IK");
        if (handle.empty() || transfer.empty()) return false;
        const std::string dir = PathJoin(exportDir_, recipientIK);
        if (!ForceDirectories(dir)) return false;
        const std::string base = PathJoin(archiveDir_, handle);
        // The copy that is sent lies beside the order as H.ENC; orders archived
        // before that copy existed there send the billing file itself, which
        // has the same content. Not so an order whose record says its data
        // travels encrypted ("Encrypt" at 207 is not "00"): without its H.ENC
        // it is not sent at all, never in plain text.
        if (!FileExists(base + ".ENC")) {
            const std::string record = ReadFileBytes(base + ".AUF");
            if (record.size() >= 208 && record.compare(206, 2, "00") != 0) return false;
        }
        const std::string dataSource = FileExists(base + ".ENC") ? base + ".ENC" : base;
        const std::string aufFile = PathJoin(dir, transfer + ".AUF");
        const std::string dataFile = PathJoin(dir, transfer);
        if (!CopyFileTo(base + ".AUF", aufFile, false) || !CopyFileTo(dataSource, dataFile, false)) return false;
        data.Recipient = table_.AsString("A_EMPF_EMAIL");
        data.Subject = table_.AsString("A_ABS_EIGN_IK");
        data.DataFile = dataFile;
        data.AufFile = aufFile;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

int TAuftragSTore::CleanupFiles() {
    const std::vector<std::string> files = ListFiles(archiveDir_, "*.AUF");
    const int n = int(files.size());
    std::set<std::string, TextLess> orphans;
    for (int i = 0; i < n; ++i) {
        const std::string& name = files[size_t(i)];
        const std::string handle = name.substr(0, name.size() - 4);
        std::string text;
        if (index_.Contains(kByHandle, handle)) {
            text = Format("%d/%d, Auftrag bearbeiten %s", {i, n - 1, handle});
        } else {
            orphans.insert(handle);
            text = Format("%d/%d, Auftrag Löschmarke %s", {i, n - 1, handle});
        }
        Notify("progressnolog", EncodeProgress(i, n), text);
    }

    const int m = int(orphans.size());
    int total = 0;
    int j = 0;
    for (const std::string& handle : orphans) {
        const std::string base = Trim(PathJoin(archiveDir_, handle));
        int d = 0;
        for (const char* ext : TSGBAuftrag::FileExts)
            if (DeleteFile(base + ext)) ++d;
        total += d;
        Notify("progressnolog", EncodeProgress(j, m), Format("Auftrag %s %d Dateien gelöscht", {handle, d}));
        ++j;
    }
    return total;
}

void TAuftragSTore::PurgeOlderThan(int days) {
    PurgeByDate(table_, index_, "A_ERZEUGT", IncDays(Now(), -days), [this](int k, int n, int removed, bool gone) {
        Notify("progressnolog", EncodeProgress(k, n),
               Format(gone ? "%d/%d, Auftrag gelöscht (gelöscht %d)" : "%d/%d, Auftrag ignoriert (gelöscht %d)",
                      {k, n, removed}));
    });
}

void TAuftragSTore::Rebuild(int days, std::vector<std::string>& list) {
    list.clear();
    std::set<std::string, TextLess> pairs;
    const std::vector<std::string> files = ListFiles(archiveDir_, "*.AUF");
    const int n = int(files.size());
    const TDateTime since = IncDays(Now(), -days);
    // Whatever happens, the pairs found so far reach the caller.
    struct Flush {
        std::set<std::string, TextLess>& from;
        std::vector<std::string>& to;
        ~Flush() { to.assign(from.begin(), from.end()); }
    } flush{pairs, list};

    for (int i = 0; i < n; ++i) {
        const std::string& name = files[size_t(i)];
        Notify("progressnolog", EncodeProgress(i, n), Format("%d/%d, Auftrag bearbeiten", {i, n - 1}));
        const std::string path = PathJoin(archiveDir_, name);
        if (!FileExists(path) || !(FileLastWriteTime(path) > since)) continue;

        const std::string handle = name.substr(0, name.size() - 4);
        // A known order is left as it is, whatever its record holds.
        if (index_.Contains(kByHandle, handle)) continue;
        const std::string record = ReadFileBytes(path);
        const std::string transfer = RecordField(record, 20, 8);
        const std::string sender = RecordField(record, 33, 15);
        const std::string recipient = RecordField(record, 78, 15);
        const TDateTime created = ParseAufTimestamp(RecordField(record, 116, 14));

        const int64_t id = lastId_ + 1;
        table_.Append();
        try {
            table_.SetInteger("A_ID", id);
            table_.SetString("A_HANDLE", handle);
            table_.SetDateTime("A_ERZEUGT", created);
            table_.SetNull("A_VERSANDT");
            table_.SetString("A_ABS_EIGN_IK", sender);
            table_.SetString("A_EMPF_IK", recipient);
            table_.SetString("A_EMPF_NAME", "?importiert");
            table_.SetString("A_EMPF_EMAIL", "?importiert");
            table_.SetString("A_TRANSFER", transfer);
            table_.Post();
        } catch (...) {
            table_.Cancel();
            throw;
        }
        lastId_ = id;

        for (const std::string& line : ReadCp1252Lines(PathJoin(archiveDir_, handle))) {
            if (StartsWith(line, "REC+")) pairs.insert(GetSGBDataelement(line, 1, 0) + "=" + handle);
        }
    }
}

std::string TAuftragSTore::GetSGBDataelement(const std::string& line, int e, int s) {
    const std::vector<std::string> elements = SplitDelimited(line, '+');
    if (e < 0 || size_t(e) >= elements.size()) throw Error("GetSGBDataelement: ElementIndex out of bound");
    const std::vector<std::string> subs = SplitDelimited(elements[size_t(e)], ':');
    if (s < 0 || size_t(s) >= subs.size()) throw Error("GetSGBDataelement: SubelementIndex out of bound");
    return subs[size_t(s)];
}

TDateTime TAuftragSTore::ParseAufTimestamp(const std::string& text) {
    const std::string t = Trim(text) + std::string(15, ' ');
    auto number = [&](size_t pos, size_t len) -> int {
        const std::string part = t.substr(pos - 1, len);
        auto v = ParseInt(part);
        if (!v) throw Error(Format("'%s' ist kein gültiger Integerwert", {part}));
        return int(*v);
    };
    auto numberOrZero = [&](size_t pos, size_t len) -> int {
        auto v = ParseInt(t.substr(pos - 1, len));
        return v ? int(*v) : 0;
    };
    const int year = number(1, 4);
    const int month = number(5, 2);
    const int day = number(7, 2);
    return EncodeDateTime(year, month, day, numberOrZero(9, 2), numberOrZero(11, 2), numberOrZero(13, 2), 0);
}

} // namespace brenvo
