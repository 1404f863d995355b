// The output of a processing run on a generated data directory, pinned byte
// for byte: billing files, orders, both archives, the tables in "Stammdaten",
// the log in "Logs" and the inbox with its error-marked files. Each run is
// compared with a manifest in tests/mainwindow/data (one line per file:
// relative path, size, SHA-256), so that work on the speed of the run cannot
// change what it writes unnoticed.
//
// After a deliberate change of the output the manifests are written anew with
//   BRENVO_RUN_OUTPUT_UPDATE=1 build/tests/mainwindow/test_mainwindow_run_output
// Every run leaves the files it compared in the build directory
// (run_output/sammel, run_output/einzeln). Copy that folder aside before a
// change; with BRENVO_RUN_OUTPUT_REFERENCE=<the copy> a mismatch also shows
// the first differing line of each differing file.

#include "ControllerFixture.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "costbearer/KtFixture.h"
#include "tools/KtDirGenerator.h"

using namespace brenvo;
using namespace ctltest;
namespace fs = std::filesystem;

namespace {

const std::string kDataMark = "<DATENVERZEICHNIS>";

void WriteBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Sha256(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

// A file as it is compared: the data directory's own path (a fresh temporary
// one each time) stands as kDataMark wherever the program wrote it, and the
// creation stamp of an order (the billing file's birth time as the file
// system reports it, not the program's clock) is blanked with '#': in the
// order at offset 115, in its readable form on the "Datumerstellung" line.
std::string Contents(const fs::path& file, const std::string& dataDir) {
    std::string bytes = ReplaceAll(ReadFileBytes(file.string()), dataDir, kDataMark);
    const std::string name = file.filename().string();
    size_t at = std::string::npos;
    if (EndsWith(name, ".AUF")) at = 115;
    if (EndsWith(name, ".AUF.LOG")) {
        at = bytes.find('*', bytes.find("Datumerstellung"));
        if (at != std::string::npos) ++at;
    }
    if (at != std::string::npos && at + 14 <= bytes.size()) bytes.replace(at, 14, 14, '#');
    return bytes;
}

// Relative path -> "size sha256" of every file in the data directory; the lock file
// exists only while a program has the directory open.
std::map<std::string, std::string> Manifest(const std::string& dataDir) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dataDir)) {
        if (!e.is_regular_file()) continue;
        const std::string rel = fs::relative(e.path(), dataDir).generic_string();
        if (rel == DataDirLock::FileName) continue;
        const std::string bytes = Contents(e.path(), dataDir);
        out[rel] = std::to_string(bytes.size()) + " " + Sha256(bytes);
    }
    return out;
}

std::map<std::string, std::string> ReadManifest(const std::string& file) {
    std::map<std::string, std::string> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const size_t cut = line.find(' ');
        if (cut != std::string::npos) out[line.substr(0, cut)] = line.substr(cut + 1);
    }
    return out;
}

// The first line in which two texts differ, for the failure message.
std::string FirstDifference(const std::string& was, const std::string& is) {
    const std::vector<std::string> a = SplitLines(was), b = SplitLines(is);
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::string x = i < a.size() ? a[i] : "<Dateiende>", y = i < b.size() ? b[i] : "<Dateiende>";
        if (x != y) return "\n    Zeile " + std::to_string(i + 1) + " war: " + x + "\n    Zeile " +
                           std::to_string(i + 1) + " ist: " + y;
    }
    return "";
}

} // namespace

class RunOutputTest : public ControllerTest {
protected:
    RunOutputTest() : ControllerTest(MemoryDiskBase()) {}

    // The directory of scripts/bench.sh on a small scale: the demo's settings,
    // an empty invoice archive, a generated cost-bearer directory.
    void SetUp() override {
        SetFixedNow(EncodeDateTime(2024, 11, 25, 9, 30));
        fs::create_directories(Path("Stammdaten"));
        for (const char* f : {"brenvo.XML", "Auftraege.xml", "eingabe_vorlage.xml"})
            fs::copy_file(DemoDir() + "/Stammdaten/" + f, Stamm(f));
        std::string rows;
        for (const auto& line : Split(ReadFileBytes(DemoDir() + "/Stammdaten/Rechnungen.xml"), '\n'))
            if (line.find("<ROW ") == std::string::npos) rows += line + "\n";
        rows.pop_back();
        WriteBytes(Stamm("Rechnungen.xml"), rows);
        GenerateKtDirectory(Path("Stammdaten"), {.costBearers = 60, .referrals = 150, .logicalRecipients = 8,
                                                 .physicalRecipients = 4, .paperOffices = 6});
    }

    // count good invoices over a dozen cost bearers, with one to four cases
    // of one to three trips each, and bad ones: a sum error, a cost bearer
    // the directory does not know, a file cut off in the middle, and where
    // asked a second file with a number already in the inbox (in a
    // collective job it fails the whole job).
    void WriteInvoices(int count, bool duplicate) {
        TSystem system;
        TSGBKTStore kt(system);
        kttest::LoadDirectory(kt, Path("Stammdaten"));
        const std::vector<std::string> bearers = BillableCostBearers(kt, "05", "38", 12);
        ASSERT_GE(bearers.size(), 6u);
        fs::create_directories(Path("import"));
        auto invoice = [&](int n) {
            GeneratedInvoice g;
            g.number = "G" + PadLeft(IntToStr(n), 7, '0');
            g.date = IncDays(Today(), -double(n % 23));
            g.providerIK = kProvider;
            g.costBearerIK = bearers[size_t(n * 7 % 12) % bearers.size()];
            g.seed = 1000003u + uint64_t(n);
            g.cases = 1 + n % 4;
            g.tripsPerCase = 1 + n / 4 % 3;
            return g;
        };
        for (int n = 1; n <= count; ++n) WriteGeneratedInvoice(Path("import/" + invoice(n).number + ".xml"), invoice(n));
        GeneratedInvoice g = invoice(count + 1);
        g.wrongTotal = true;
        WriteGeneratedInvoice(Path("import/" + g.number + ".xml"), g);
        g = invoice(count + 2);
        g.costBearerIK = "109999995";
        WriteGeneratedInvoice(Path("import/" + g.number + ".xml"), g);
        if (duplicate) WriteGeneratedInvoice(Path("import/G-doppelt.xml"), invoice(count / 2));
        const std::string whole = ReadFileBytes(Path("import/G0000003.xml"));
        WriteBytes(Path("import/G-abgeschnitten.xml"), whole.substr(0, whole.size() / 2));
    }

    // Start-up, the run, shut-down as brenvo-cli's "verarbeiten" does them;
    // then the data directory is kept in the build directory and compared
    // with the manifest (or the manifest written).
    void RunAndCompare(const std::string& name, bool collective, int count) {
        SetSettings({{"SYST_ZUSF", collective ? "T" : "F"}});
        WriteInvoices(count, !collective);
        if (HasFatalFailure()) return;
        {
            auto c = Started();
            c->actProzessStartExecute();
            ASSERT_TRUE(c->LastRun().Completed) << Joined();
            ASSERT_TRUE(c->Shutdown()) << Joined();
        }
        const std::map<std::string, std::string> now = Manifest(dir.path());
        const fs::path kept = fs::path(BRENVO_BINARY_DIR) / "run_output" / name;
        fs::remove_all(kept);
        for (const auto& [rel, line] : now) WriteBytes(kept / rel, Contents(Path(rel), dir.path()));
        const std::string file = std::string(BRENVO_SOURCE_DIR) + "/tests/mainwindow/data/run_output_" + name + ".txt";
        if (const char* u = std::getenv("BRENVO_RUN_OUTPUT_UPDATE"); u && std::string(u) == "1") {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            for (const auto& [rel, line] : now) out << rel << ' ' << line << '\n';
            ASSERT_TRUE(out.good()) << file;
            return;
        }
        const std::map<std::string, std::string> pinned = ReadManifest(file);
        ASSERT_FALSE(pinned.empty()) << "kein Manifest " << file;
        const char* refEnv = std::getenv("BRENVO_RUN_OUTPUT_REFERENCE");
        const fs::path ref = refEnv ? fs::path(refEnv) / name : fs::path();
        for (const auto& [rel, line] : pinned) {
            auto it = now.find(rel);
            if (it == now.end()) {
                ADD_FAILURE() << "fehlt: " << rel;
            } else if (it->second != line) {
                std::string detail;
                if (!ref.empty() && fs::exists(ref / rel))
                    detail = FirstDifference(ReadFileBytes((ref / rel).string()), Contents(Path(rel), dir.path()));
                ADD_FAILURE() << "anders: " << rel << " (" << it->second << " statt " << line << ")" << detail;
            }
        }
        for (const auto& [rel, line] : now)
            if (!pinned.count(rel)) ADD_FAILURE() << "zusätzlich: " << rel;
    }
};

TEST_F(RunOutputTest, CollectiveRunWritesThePinnedFiles) { RunAndCompare("sammel", true, 150); }

TEST_F(RunOutputTest, SingleRunWritesThePinnedFiles) { RunAndCompare("einzeln", false, 40); }
