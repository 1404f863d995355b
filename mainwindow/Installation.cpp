#include "mainwindow/Installation.h"

#include <cerrno>
#include <cstring>

#include "archive/U_AuftragStore.h"
#include "archive/U_RechStore.h"
#include "costbearer/KTTables.h"
#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/dataset/Table.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

// The invoice every new invoice starts from: the template number 99999 and
// no invoice date (invoice entry treats such an invoice as never entered).
constexpr const char* kInvoiceTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Rechnungen>\n"
    "  <Rechnung>\n"
    "    <RechID />\n"
    "    <SaRechNr>99999</SaRechNr>\n"
    "    <EinzelRechNr>1</EinzelRechNr>\n"
    "    <RechDatum />\n"
    "    <IKLE />\n"
    "    <IKKT />\n"
    "    <IKPat />\n"
    "    <RBetragBrutto />\n"
    "    <RBetragNetto />\n"
    "    <RBetragZuZa />\n"
    "    <Name1 />\n"
    "    <Name2 />\n"
    "    <Name3 />\n"
    "    <Name4 />\n"
    "  </Rechnung>\n"
    "</Rechnungen>\n";

void MakeDirectory(const std::string& dir) {
    if (!ForceDirectories(dir)) throw Error("Verzeichnis kann nicht angelegt werden: " + dir);
}

} // namespace

bool IsInstallation(const std::string& root) {
    return DirectoryExists(PathJoin(root, TDataPaths{}.Stammdaten));
}

void CreateInstallation(const std::string& root) {
    MakeDirectory(root);
    const TDataPaths names;
    MakeDirectory(PathJoin(root, names.Eingabe));
    if (IsInstallation(root)) return;

    const std::string target = PathJoin(root, names.Stammdaten);
    const std::string staging = target + ".neu";
    DeleteTree(staging);   // left by an interrupted first start
    MakeDirectory(staging);

    Table settings({FieldDef::Str("KEY", 20), FieldDef::Str("VALUE", 200)});
    settings.SaveToFile(PathJoin(staging, TMainController::SettingsFileName));
    WriteEmptyKTDirectory(staging);
    Table(TRechStore::DefaultFields()).SaveToFile(PathJoin(staging, TMainController::InvoiceArchiveFileName));
    Table(TAuftragSTore::DefaultFields()).SaveToFile(PathJoin(staging, TMainController::OrderArchiveFileName));
    AtomicWriteFile(PathJoin(staging, TMainController::InvoiceTemplateFileName), kInvoiceTemplate);

    if (!RenameFile(staging, target)) {
        const int err = errno;
        // Another program starting on the same new directory got there first.
        if (IsInstallation(root)) {
            DeleteTree(staging);
            return;
        }
        throw Error("Verzeichnis kann nicht angelegt werden: " + target + " (" + std::strerror(err) + ")");
    }
}

} // namespace brenvo
