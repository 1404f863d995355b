#include "archive/U_RechStore.h"

#include <algorithm>

#include "archive/Staging.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"

namespace brenvo {

namespace {

// Index slots.
constexpr int kByNumber = 0;
constexpr int kByFile = 1;
constexpr int kByHandle = 2;
constexpr int kById = 3;

bool SameContent(const std::string& a, const std::string& b) {
    try {
        return ReadFileBytes(a) == ReadFileBytes(b);
    } catch (const Error&) {
        return false;
    }
}

} // namespace

std::vector<FieldDef> TRechStore::DefaultFields() {
    return {FieldDef::Int("R_ID").WithXmlType("i4"),
            FieldDef::Str("R_NUMMER", 14),
            FieldDef::Date("R_DATUM").WithXmlType("dateTime"),
            FieldDef::Money("R_BETRAG").WithXmlType("r8"),
            FieldDef::Str("R_FILENAME", 255),
            FieldDef::Str("R_HANDLE", 40)};
}

TRechStore::TRechStore()
    : table_(DefaultFields()),
      index_(table_, {{"R_NUMMER", TableKeyIndex::Kind::Exact},
                      {"R_FILENAME", TableKeyIndex::Kind::FoldCase},
                      {"R_HANDLE", TableKeyIndex::Kind::Exact},
                      {"R_ID", TableKeyIndex::Kind::Integer}}) {
    InstallRemovalRule();
}

TRechStore::~TRechStore() = default;

void TRechStore::InitStore(const std::string& importDir, const std::string& archiveDir, TArchiveCallback callback) {
    importDir_ = importDir;
    archiveDir_ = archiveDir;
    staged_.clear();
    stagingReady_ = false;
    callback_ = std::move(callback);
    table_.Close();
    table_.CreateDataSet(DefaultFields());
    fileName_.clear();
    InstallRemovalRule();
    index_.Rebuild();
}

void TRechStore::InstallRemovalRule() {
    table_.BeforeDelete = [this](Table& t) {
        const int64_t id = t.AsInteger("R_ID");
        const std::string number = t.AsString("R_NUMMER");
        if (auto found = staged_.find(number); found != staged_.end()) {
            const StagedInvoice* staged = &found->second.second;
            // Not committed: the file is in the import directory. Should it
            // have gone missing there, the staged name brings it back.
            const std::string stagedPath = PathJoin(StagingDir(), staged->ImportName);
            const std::string inbox = PathJoin(importDir_, staged->ImportName);
            if (FileExists(inbox))
                DeleteFile(stagedPath);
            else if (!MoveFile(stagedPath, inbox, false) && CopyFileTo(stagedPath, inbox, true))
                DeleteFile(stagedPath);
            lastReturned_ = staged->ImportName;
            staged_.erase(found);
            Notify("offen", id, lastReturned_);
            return;
        }
        const std::string name = t.AsString("R_FILENAME");
        // A different invoice waiting under that name in the import directory
        // is never overwritten; the returned one then comes back beside it.
        const std::string archived = PathJoin(archiveDir_, name);
        std::string target = name;
        if (!name.empty() && FileExists(archived) && FileExists(PathJoin(importDir_, name)) &&
            !SameContent(archived, PathJoin(importDir_, name)))
            target = FreeName(name, [this](const std::string& n) { return FileExists(PathJoin(importDir_, n)); });
        lastReturned_ = target;
        Notify("offen", id, target);
        if (!name.empty()) CopyFileTo(archived, PathJoin(importDir_, target), false);
    };
}

std::string TRechStore::ArchiveNameFor(const std::string& fileName) {
    // The archived copy of another invoice is never overwritten: an invoice
    // whose file name another row already uses is archived under a free name.
    if (!IsArchivedFile(fileName)) return fileName;
    return FreeName(fileName, [this](const std::string& n) {
        return IsArchivedFile(n) || FileExists(PathJoin(archiveDir_, n));
    });
}

void TRechStore::Notify(const std::string& action, int64_t value, const std::string& text) {
    if (callback_) callback_(this, action, value, text);
}

void TRechStore::Load(const std::string& fileName) {
    table_.LoadFromFile(fileName);
    // Only a file that was read is written back: a table that failed to load
    // must never be saved over its file.
    fileName_ = fileName;
    // The index is built at the first search (loading left it stale).
    lastId_ = std::max(lastId_, HighestInteger(table_, index_, "R_ID"));
}

void TRechStore::Save() {
    if (!table_.Active()) return;
    if (fileName_.empty()) throw Error("TRechStore Save: keine Tabellendatei geladen");
    table_.MergeChangeLog();
    table_.SaveToFile(fileName_);
}

void TRechStore::CheckNotArchived(const std::string& number) {
    if (index_.Contains(kByNumber, number)) throw Error("TRechStore Rechnung bereits vorhanden ");
}

void TRechStore::AppendRow(const std::string& number, TDateTime date, double amount, const std::string& fileName,
                           const std::string& handle) {
    const int64_t id = lastId_ + 1;
    table_.Append();
    try {
        table_.SetInteger("R_ID", id);
        table_.SetString("R_NUMMER", number);
        table_.SetDateTime("R_DATUM", date);
        table_.SetFloat("R_BETRAG", amount);
        table_.SetString("R_FILENAME", fileName);
        table_.SetString("R_HANDLE", handle);
        table_.Post();
    } catch (...) {
        table_.Cancel();
        throw;
    }
    lastId_ = id;
}

void TRechStore::AddBilled(const Table& invoice, const std::string& fileName, const std::string& handle) {
    AddBilled(invoice.AsString("SaRechNr"), invoice.AsDateTime("RechDatum"), invoice.AsFloat("RBetragBrutto"),
              fileName, handle);
}

void TRechStore::AddBilled(const std::string& number, TDateTime date, double amount, const std::string& fileName,
                           const std::string& handle) {
    CheckNotArchived(number);

    // The staged name pins the file as it was billed, whatever happens to
    // the inbox's file before the run commits. A second name of the same
    // file is complete at once and needs no syncing of its content (one sync
    // per invoice would bound a run to the disk's sync rate); across file
    // systems the file is copied and synced.
    const std::string archiveName = ArchiveNameFor(fileName);
    const std::string source = PathJoin(importDir_, fileName);
    const std::string staged = PathJoin(StagingDir(), fileName);
    // Made inside an existing archive directory only.
    if (!stagingReady_) stagingReady_ = DirectoryExists(archiveDir_) && ForceDirectories(StagingDir());
    // A second name is the file itself; a copy is compared by its size.
    auto copied = [&] {
        const int64_t size = FileSize(source);
        return size >= 0 && CopyFileTo(source, staged, false) && FileSize(staged) == size;
    };
    if (!LinkFile(source, staged) && !copied())
        throw Error(Format("TRechStore Datei %s konnte nicht nach %s kopiert werden",
                           {source, PathJoin(archiveDir_, archiveName)}));

    try {
        AppendRow(number, date, amount, archiveName, handle);
    } catch (...) {
        DeleteFile(staged);
        throw;
    }
    staged_[number] = {++stagedCount_, {number, fileName, archiveName}};
    Notify("insert", lastId_, fileName);
    Notify("bearbeitet", lastId_, fileName);
}

std::string TRechStore::StagingDir() const { return StagingDirOf(archiveDir_); }

std::vector<TRechStore::StagedInvoice> TRechStore::Staged() const {
    std::vector<std::pair<uint64_t, StagedInvoice>> taken(staged_.size());
    std::transform(staged_.begin(), staged_.end(), taken.begin(), [](const auto& entry) { return entry.second; });
    std::sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StagedInvoice> out;
    out.reserve(taken.size());
    for (auto& t : taken) out.push_back(std::move(t.second));
    return out;
}

void TRechStore::PublishStaged(const std::string& importDir, const std::string& archiveDir,
                               const std::string& importName, const std::string& archiveName) {
    const std::string staged = PathJoin(StagingDirOf(archiveDir), importName);
    const std::string target = PathJoin(archiveDir, archiveName);
    const std::string inbox = PathJoin(importDir, importName);
    if (MoveFile(staged, target, true)) return;
    if (FileExists(staged)) {
        throw Error(Format("Datei %s kann nicht nach %s verschoben werden", {staged, target}));
    } else if (!FileExists(target) &&
               !(FileExists(inbox) && (LinkFile(inbox, target) || CopyFileTo(inbox, target, false)))) {
        throw Error(Format("TRechStore Rechnung %s: die Datei fehlt in %s und in %s", {importName, staged, inbox}));
    }
}

void TRechStore::AddRebuilt(const Table& invoice, const std::string& fileName, const std::string& handle) {
    const std::string number = invoice.AsString("SaRechNr");
    CheckNotArchived(number);
    AppendRow(number, invoice.AsDateTime("RechDatum"), invoice.AsFloat("RBetragBrutto"), fileName, handle);
}

void TRechStore::AddManual(const std::string& path, const std::string& number, double amount, TDateTime date) {
    CheckNotArchived(number);
    const std::string target = PathJoin(archiveDir_, ArchiveNameFor(ExtractFileName(path)));
    if (!CopyFileTo(path, target, false))
        throw Error(Format("Datei %s konnte nicht nach %s kopiert werden", {path, target}));
    AppendRow(number, date, amount, ExtractFileName(target), "");
}

bool TRechStore::IsArchivedFile(const std::string& fileName) { return index_.Contains(kByFile, fileName); }

int TRechStore::CleanupFiles() {
    const std::vector<std::string> files = ListFiles(archiveDir_, "*.XML");
    const int n = int(files.size());
    int deleted = 0;
    for (int i = 0; i < n; ++i) {
        const std::string& name = files[size_t(i)];
        std::string text;
        if (index_.ContainsExact(kByFile, name)) {
            text = Format("%d/%d, Rechnung bearbeiten %s", {i, n - 1, name});
        } else if (DeleteFile(PathJoin(archiveDir_, name))) {
            ++deleted;
            text = Format("%d/%d, Rechnung löschen OK %s", {i, n - 1, name});
        } else {
            text = Format("%d/%d, Rechnung löschen FEHLER %s", {i, n - 1, name});
        }
        Notify("progressnolog", EncodeProgress(i, n), text);
    }
    return deleted;
}

void TRechStore::FindUnlistedFiles(int days, std::vector<std::string>& list) {
    list.clear();
    const std::vector<std::string> files = ListFiles(archiveDir_, "*.XML");
    const int n = int(files.size());
    const TDateTime since = IncDays(Now(), -days);
    for (int i = 0; i < n; ++i) {
        const std::string& name = files[size_t(i)];
        Notify("progressnolog", EncodeProgress(i, n), Format("%d/%d, Rechnung bearbeiten", {i, n - 1}));
        const std::string path = PathJoin(archiveDir_, name);
        if (FileExists(path) && FileLastWriteTime(path) > since && !index_.ContainsExact(kByFile, name))
            list.push_back(name);
    }
}

void TRechStore::PurgeOlderThan(int days) {
    PurgeByDate(table_, index_, "R_DATUM", IncDays(Now(), -days), [this](int k, int n, int removed, bool) {
        Notify("progressnolog", EncodeProgress(k, n), Format("%d/%d, Rechnung gelöscht %d", {k, n, removed}));
    });
}

bool TRechStore::LocateByNumber(const std::string& number) { return index_.GotoFirst(kByNumber, number); }

bool TRechStore::LocateByHandle(const std::string& handle) { return index_.GotoFirst(kByHandle, handle); }

bool TRechStore::LocateByFileName(const std::string& fileName) { return index_.GotoFirst(kByFile, fileName); }

bool TRechStore::HasNumber(const std::string& number) { return index_.Contains(kByNumber, number); }

bool TRechStore::HasHandle(const std::string& handle) { return index_.Contains(kByHandle, handle); }

bool TRechStore::FindRow(int slot, const std::string& key, std::string* fileName, std::string* handle) {
    const auto rows = index_.Find(slot, key);
    if (rows.empty()) return false;
    const TableKeyIndex::Bookmark row = rows.front();
    const std::vector<std::string>* values = index_.ValuesOf(row);
    if (!values) return false;
    if (fileName) *fileName = (*values)[kByFile];
    if (handle) *handle = (*values)[kByHandle];
    return true;
}

bool TRechStore::FindByNumber(const std::string& number, std::string* fileName, std::string* handle) {
    return FindRow(kByNumber, number, fileName, handle);
}

bool TRechStore::FindByFileName(const std::string& fileName, std::string* archivedName, std::string* handle) {
    return FindRow(kByFile, fileName, archivedName, handle);
}

bool TRechStore::LinkHandle(const std::string& number, const std::string& handle) {
    UnfilteredScope all(table_, index_);
    if (!index_.GotoFirst(kByNumber, number)) return false;
    table_.Edit();
    try {
        table_.SetString("R_HANDLE", handle);
        table_.Post();
    } catch (...) {
        table_.Cancel();
        throw;
    }
    return true;
}

void TRechStore::DeleteCurrent() { table_.Delete(); }

void TRechStore::ReadRows(const std::vector<std::string>& keys,
                      const std::function<void(const std::string&, const Table&)>& fn) {
    ReadKeyedRows(table_, index_, kByNumber, keys, fn);
}

bool TRechStore::RestoreRow(const std::string& number, const std::function<void(Table&)>& fill) {
    if (!AppendKeyedRow(table_, index_, kByNumber, number, fill)) return false;
    lastId_ = std::max(lastId_, table_.AsInteger("R_ID"));
    return true;
}

bool TRechStore::ReturnInvoice(const std::string& number, std::string* returnedName) {
    UnfilteredScope all(table_, index_);
    if (!index_.GotoFirst(kByNumber, number)) return false;
    if (auto found = staged_.find(number); found != staged_.end()) {
        const StagedInvoice* staged = &found->second.second;
        const std::string stagedPath = PathJoin(StagingDir(), staged->ImportName);
        if (!FileExists(PathJoin(importDir_, staged->ImportName)) && !FileExists(stagedPath))
            throw Error(Format("TRechStore Rechnung %s kann nicht zurückgegeben werden, Datei %s fehlt",
                               {number, stagedPath}));
        table_.Delete();
        const std::string returned = PathJoin(importDir_, lastReturned_);
        if (!FileExists(returned))
            throw Error(Format("TRechStore Datei %s konnte nicht nach %s kopiert werden",
                               {PathJoin(StagingDir(), lastReturned_), returned}));
        if (returnedName) *returnedName = lastReturned_;
        return true;
    }
    const std::string name = table_.AsString("R_FILENAME");
    const std::string archived = PathJoin(archiveDir_, name);
    // Without its archived copy the row is the only trace of the invoice: keep it.
    if (name.empty() || !FileExists(archived))
        throw Error(Format("TRechStore Rechnung %s kann nicht zurückgegeben werden, Datei %s fehlt",
                           {number, archived}));
    table_.Delete();
    const std::string returned = PathJoin(importDir_, lastReturned_);
    if (!FileExists(returned))
        throw Error(Format("TRechStore Datei %s konnte nicht nach %s kopiert werden", {archived, returned}));
    if (returnedName) *returnedName = lastReturned_;
    return true;
}

} // namespace brenvo
