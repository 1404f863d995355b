#include "mainwindow/FtpClient.h"

#include <curl/curl.h>

#include <mutex>
#include <utility>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mainwindow/StagedFile.h"

namespace brenvo {

namespace {

void InitCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string GermanReason(CURLcode code) {
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK: return "Abgebrochen";
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT: return "Zeitüberschreitung";
    case CURLE_COULDNT_RESOLVE_HOST: return "Server nicht gefunden";
    case CURLE_COULDNT_CONNECT: return "Verbindung abgelehnt";
    case CURLE_LOGIN_DENIED: return "Anmeldung abgelehnt";
    case CURLE_PARTIAL_FILE: return "Übertragung unvollständig";
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE: return "Datei nicht gefunden";
    case CURLE_REMOTE_ACCESS_DENIED: return "Zugriff verweigert";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return "Verbindung unterbrochen";
    default: return "FTP-Fehler";
    }
}

} // namespace

struct FtpClient::Transfer {
    StagedFile* out = nullptr;
    const Progress* progress = nullptr;
    int64_t received = 0;
    std::exception_ptr error;  // thrown by the file or the progress callback

    static size_t Write(char* data, size_t size, size_t count, void* userdata) {
        auto* t = static_cast<Transfer*>(userdata);
        size_t n = size * count;
        if (!t) return n;  // the size query's header lines: not wanted
        try {
            t->out->Write(data, n);
            t->received += int64_t(n);
            if (*t->progress) (*t->progress)(t->received);
        } catch (...) {
            t->error = std::current_exception();
            return 0;  // makes libcurl stop with a write error
        }
        return n;
    }
};

FtpClient::FtpClient(FtpOptions options) : options_(std::move(options)) { InitCurl(); }

FtpClient::~FtpClient() { Disconnect(); }

std::string FtpClient::Url(const std::string& remotePath) const {
    std::string host = options_.host;
    if (Contains(host, ":") && !StartsWith(host, "[")) host = "[" + host + "]";
    std::string url = "ftp://" + host + ":" + IntToStr(options_.port) + "/";
    std::vector<std::string> parts;
    for (const std::string& part : Split(remotePath, '/')) {
        if (part.empty()) continue;
        char* escaped = curl_easy_escape(static_cast<CURL*>(curl_), part.c_str(), int(part.size()));
        parts.push_back(escaped ? escaped : part);
        curl_free(escaped);
    }
    return url + Join(parts, "/");
}

void FtpClient::Prepare() {
    if (Trim(options_.host).empty()) throw Error("Kein FTP-Server angegeben");
    if (!curl_) {
        curl_ = curl_easy_init();
        if (!curl_) throw Error("FTP-Verbindung kann nicht angelegt werden");
    }
    CURL* c = static_cast<CURL*>(curl_);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(c, CURLOPT_USERNAME, options_.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, options_.password.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, options_.connectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(1L, (options_.responseTimeoutMs + 999) / 1000));
    curl_easy_setopt(c, CURLOPT_ACCEPTTIMEOUT_MS, options_.responseTimeoutMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, options_.stallTimeoutSec);
    curl_easy_setopt(c, CURLOPT_FTPPORT, options_.passive ? nullptr : "-");
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &FtpClient::XferInfo);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Transfer::Write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Transfer::Write);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
}

int FtpClient::XferInfo(void* self, int64_t, int64_t, int64_t, int64_t) {
    auto* ftp = static_cast<FtpClient*>(self);
    if (ftp->cancelled_) return 1;
    if (ftp->OnWait) {
        try {
            ftp->OnWait();
        } catch (...) {
            ftp->waitError_ = std::current_exception();
            return 1;
        }
    }
    return ftp->cancelled_ ? 1 : 0;
}

bool FtpClient::Perform(const std::string& what, Transfer* transfer, bool missingFileIsNoError) {
    if (cancelled_) throw Error("Abgebrochen");
    CURL* c = static_cast<CURL*>(curl_);
    errorBuffer_[0] = '\0';
    curl_easy_setopt(c, CURLOPT_WRITEDATA, static_cast<void*>(transfer));
    CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    if (waitError_) std::rethrow_exception(std::exchange(waitError_, nullptr));
    if (rc == CURLE_OK) return true;
    if (transfer && transfer->error) std::rethrow_exception(transfer->error);
    if (cancelled_ || rc == CURLE_ABORTED_BY_CALLBACK) throw Error("Abgebrochen");
    if (missingFileIsNoError && (rc == CURLE_REMOTE_FILE_NOT_FOUND || rc == CURLE_FTP_COULDNT_RETR_FILE)) return false;
    // libcurl 7.88 leaves a harmless note about the active-mode data
    // connection in the error buffer; the failure itself is then its code.
    std::string detail = errorBuffer_;
    if (detail.empty() || StartsWith(detail, "sa_addr inet_ntop()")) detail = curl_easy_strerror(rc);
    throw Error(GermanReason(rc) + " (" + what + ": " + detail + ")");
}

void FtpClient::Connect() {
    Prepare();
    CURL* c = static_cast<CURL*>(curl_);
    curl_easy_setopt(c, CURLOPT_URL, Url("").c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    try {
        Perform(options_.host + ":" + IntToStr(options_.port), nullptr);
    } catch (...) {
        Disconnect();
        throw;
    }
}

int64_t FtpClient::Size(const std::string& remotePath) {
    Prepare();
    CURL* c = static_cast<CURL*>(curl_);
    curl_easy_setopt(c, CURLOPT_URL, Url(remotePath).c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    if (!Perform(remotePath, nullptr, true)) return -1;
    curl_off_t size = -1;
    if (curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) != CURLE_OK) return -1;
    return size < 0 ? -1 : int64_t(size);
}

void FtpClient::Get(const std::string& remotePath, const std::string& localFile, int64_t expectedSize,
                    const Progress& progress) {
    Prepare();
    CURL* c = static_cast<CURL*>(curl_);
    curl_easy_setopt(c, CURLOPT_URL, Url(remotePath).c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    StagedFile out(localFile, 0644);
    Transfer transfer;
    transfer.out = &out;
    transfer.progress = &progress;
    Perform(remotePath, &transfer);
    if (expectedSize >= 0 && transfer.received != expectedSize)
        throw Error("Übertragung unvollständig (" + remotePath + ": " + IntToStr(transfer.received) + " von " +
                    IntToStr(expectedSize) + " Bytes)");
    out.Finish();
    out.Commit();
}

void FtpClient::Disconnect() {
    if (!curl_) return;
    curl_easy_cleanup(static_cast<CURL*>(curl_));
    curl_ = nullptr;
}

} // namespace brenvo
