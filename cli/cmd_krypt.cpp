// brenvo-cli zertifikate and entschluesseln: the certificates the program
// encrypts with, and the opening of an encrypted billing file as the
// acceptance office does it (for support and tests).

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli/ConsoleView.h"
#include "cli/Startup.h"
#include "crypt/U_Krypt.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "mainwindow/main.h"

namespace brenvo {

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kStartup = 2;

int Failure(const std::string& message) {
    std::fprintf(stderr, "brenvo-cli: %s\n", ConsoleView::ConsoleLines(message).c_str());
    return kFailed;
}

// "IK         gültig vom ... bis ...  state  name" as one line.
std::string CertLine(const std::string& who, const TCertInfo& info, const std::string& state,
                     const std::string& name) {
    return Format("%-16s %s bis %s  %s  %s",
                  {who, FormatDDMMYYYY(info.NotBefore), FormatDDMMYYYY(info.NotAfter), state, name});
}

// A file named by a setting of the data directory, read without starting the
// program: "" when the settings or the key are missing.
std::string SettingOfDirectory(const std::string& dir, const std::string& key) {
    const std::string file = PathJoin(PathJoin(dir, "Stammdaten"), TMainController::SettingsFileName);
    if (!FileExists(file)) return "";
    try {
        Table t;
        t.LoadFromFile(file);
        if (!t.Locate("KEY", {Value(key)})) return "";
        const std::string v = t.AsString("VALUE");
        return Trim(v).empty() ? "" : IsAbsolutePath(v) ? v : PathJoin(dir, v);
    } catch (const std::exception&) {
        return "";
    }
}

} // namespace

// The key list of the settings: per IK its certificates with their validity,
// the one used to encrypt marked; the certification authorities; the own
// certificate. 0 when the list (and the own key, when set) could be read.
int CmdZertifikate(const std::string& dir) {
    ConsoleView view(false);
    TMainController c(view, dir);
    if (!StartController(c, view, OnStartupFailure::LeaveAsIs)) return kStartup;
    const TSystem& s = c.System();
    if (s.KRYPT_SCHLUESSELLISTE.empty()) return Failure("Keine Schlüsselliste (KRYPT_SCHLUESSELLISTE) eingestellt.");
    std::unique_ptr<TKeyList> list;
    try {
        list = std::make_unique<TKeyList>(s.KRYPT_SCHLUESSELLISTE);
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
    const TDateTime now = Now();
    std::vector<size_t> offices, authorities;
    for (size_t i = 0; i < list->Count(); ++i) (list->Info(i).IsCa ? authorities : offices).push_back(i);
    // By IK, the newest first.
    std::stable_sort(offices.begin(), offices.end(), [&](size_t a, size_t b) {
        const TCertInfo x = list->Info(a), y = list->Info(b);
        return x.Ik != y.Ik ? x.Ik < y.Ik : x.NotBefore.Value() > y.NotBefore.Value();
    });
    std::printf("Schlüsselliste %s: %zu Zertifikate\n", list->Path().c_str(), list->Count());
    for (size_t i : offices) {
        const TCertInfo info = list->Info(i);
        std::string state = list->Problem(i, now);
        if (state.empty()) {
            state = "gültig";
            try {
                if (!info.Ik.empty() && list->RecipientIndex(info.Ik, now) == i) state += ", wird verwendet";
            } catch (const std::exception&) {
            }
        }
        std::printf("%s\n", CertLine(info.Ik.empty() ? "ohne IK" : info.Ik, info, state, info.Institution).c_str());
    }
    std::printf("Zertifizierungsstellen:\n");
    for (size_t i : authorities) {
        const TCertInfo info = list->Info(i);
        const std::string state = list->Problem(i, now);
        std::printf("%s\n", CertLine(info.SelfSigned ? "Stammzertifikat" : "CA", info, state.empty() ? "gültig" : state,
                                     info.Subject)
                                .c_str());
    }
    std::fflush(stdout);
    if (s.KRYPT_PKCS12.empty()) return kOk;
    try {
        const TProviderKey own(s.KRYPT_PKCS12, s.KRYPT_PASSWORT);
        const TCertInfo info = own.Certificate();
        const bool valid = info.NotBefore.Value() <= now.Value() && now.Value() <= info.NotAfter.Value();
        std::printf("Eigenes Zertifikat %s:\n%s\n", own.Path().c_str(),
                    CertLine(info.Ik.empty() ? "ohne IK" : info.Ik, info, valid ? "gültig" : "nicht gültig",
                             info.Institution)
                        .c_str());
        std::fflush(stdout);
        return kOk;
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}

// Decrypts the file with the office's key, verifies the signature against
// the roots of the key file and of the data directory's key list, and writes
// the content. 0 when both succeeded; nothing is written otherwise.
int CmdEntschluesseln(const std::string& dir, const std::string& file, const std::string& pkcs12,
                      const std::string& password, const std::string& out) {
    try {
        if (!FileExists(file)) return Failure("Datei nicht gefunden: " + file);
        const TProviderKey key(pkcs12, password);
        std::unique_ptr<TKeyList> list;
        const std::string listFile = SettingOfDirectory(dir, "KRYPT_SCHLUESSELLISTE");
        if (!listFile.empty()) {
            try {
                list = std::make_unique<TKeyList>(listFile);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "brenvo-cli: %s (es gelten nur die Stammzertifikate aus %s)\n", e.what(),
                             pkcs12.c_str());
            }
        }
        const TOpenedMessage opened = DecryptAndVerify(ReadFileBytes(file), key, list.get());
        AtomicWriteFile(out, opened.Content);
        std::printf("Entschlüsselt: %s -> %s (%zu Bytes)\n", file.c_str(), out.c_str(), opened.Content.size());
        std::printf("Signiert von: %s\n", opened.Signer.Subject.c_str());
        if (!opened.Root.Subject.empty())
            std::printf("Zertifizierungspfad bis: %s\n", opened.Root.Subject.c_str());
        if (!opened.SigningTime.IsNull())
            std::printf("Signiert am: %s\n", FormatDateTimeDE(opened.SigningTime).c_str());
        std::printf("Die Signatur ist gültig.\n");
        std::fflush(stdout);
        return kOk;
    } catch (const std::exception& e) {
        return Failure(e.what());
    }
}

} // namespace brenvo
