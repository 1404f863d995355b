#include "mail/U_SmtpMail.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "mail/MailMessage.h"

namespace brenvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxReplySize = 64 * 1024;   // a server sending more in one reply is broken

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Reply {
    int code = 0;
    std::string text;   // every line of the reply, joined by blanks
};

// The server closed the connection (as opposed to any other failure).
class ConnectionClosed : public Error {
public:
    using Error::Error;
};

// Message data as it travels after DATA: CR LF line ends (lone CR or LF
// become CR LF), a dot doubled at the start of a line, a line end at the
// end, followed by the terminating ".".
std::string DataForTransfer(const std::string& data) {
    std::string out;
    out.reserve(data.size() + data.size() / 64 + 8);
    bool lineStart = true;
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart) out += "\r\n";
    out += ".\r\n";
    return out;
}

struct CurlMultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

struct X509Deleter {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

// The certificates of a file of trusted certificates: PEM, one after another
// (a single DER certificate is taken too).
std::vector<X509Ptr> ReadTrustedCertificates(const std::string& path) {
    const std::string what = "Die Datei der vertrauenswürdigen Zertifikate (EMAIL_CAFILE) ";
    if (!FileExists(path)) throw Error(what + "gibt es nicht: " + path);
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const Error&) {
        throw Error(what + "kann nicht gelesen werden: " + path);
    }
    std::vector<X509Ptr> certs;
    if (bytes.find("-----BEGIN") != std::string::npos) {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(bytes.data(), int(bytes.size())), BIO_free);
        while (bio) {
            X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
            if (!x) break;
            certs.emplace_back(x);
        }
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509* x = d2i_X509(nullptr, &p, long(bytes.size()))) certs.emplace_back(x);
    }
    ERR_clear_error();
    if (certs.empty()) throw Error(what + "enthält kein Zertifikat: " + path);
    return certs;
}

// Why OpenSSL did not accept the server's certificate, in the user's words.
std::string CertificateProblem(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "es stammt von einer Zertifizierungsstelle, der weder das System noch EMAIL_CAFILE vertraut";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "es ist selbst signiert und steht weder im Zertifikatsspeicher des Systems noch in EMAIL_CAFILE";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "seine Zertifikatskette endet bei einer Stammzertifizierungsstelle, der weder das System noch "
               "EMAIL_CAFILE vertraut";
    case X509_V_ERR_CERT_HAS_EXPIRED: return "es ist abgelaufen";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "es ist noch nicht gültig";
    case X509_V_ERR_CERT_REVOKED: return "es ist gesperrt";
    case X509_V_ERR_INVALID_PURPOSE: return "es ist nicht für einen Server ausgestellt";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "es gilt für einen anderen Servernamen";
    default: return std::string("die Prüfung ist gescheitert (") + X509_verify_cert_error_string(verifyResult) + ")";
    }
}

bool IsServerNameUsable(const std::string& host) {
    for (unsigned char c : host)
        if (c <= 0x20 || c >= 0x7F || c == '/' || c == '@' || c == '?' || c == '#' || c == '\\')
            return false;
    return true;
}

} // namespace

struct SmtpSession::Impl {
    std::string host;
    int port = 0;
    std::string user, password;
    int stepTimeoutMs = kMailStepTimeoutMs;
    TMailTls tls = TMailTls::StartTls;
    std::string caFile;

    // The handle stays in its multi handle for the whole session: libcurl
    // keeps a connect-only connection only as long as that.
    std::unique_ptr<CURLM, CurlMultiDeleter> multi;
    std::unique_ptr<CURL, CurlDeleter> curl;
    curl_socket_t sock = CURL_SOCKET_BAD;
    std::string inbuf;

    // While libcurl opens the session: the certificates of caFile, the time
    // of the last byte that went either way, what came in, and the server's
    // last reply.
    std::vector<X509Ptr> trusted;
    Clock::time_point lastActivity;
    bool traffic = false;
    size_t bytesIn = 0;
    std::string lastReply;

    ~Impl() { Drop(); }

    bool Connected() const { return curl != nullptr; }

    void Drop() {
        if (multi && curl) curl_multi_remove_handle(multi.get(), curl.get());
        curl.reset();
        multi.reset();
        trusted.clear();
        sock = CURL_SOCKET_BAD;
        inbuf.clear();
    }

    [[noreturn]] void Fail(const std::string& message) {
        Drop();
        throw Error(message);
    }

    Clock::time_point StepDeadline() const {
        return Clock::now() + std::chrono::milliseconds(stepTimeoutMs);
    }

    // Waits until the socket is ready for events; false when the deadline passed.
    bool Wait(short events, Clock::time_point deadline) const {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{sock, events, 0};
            int n = poll(&p, 1, int(left.count()));
            if (n > 0) return true;
            if (n == 0) return false;
            if (errno != EINTR) return true;   // let the following call report the fault
        }
    }

    void SendAll(std::string_view bytes) {
        if (!Connected()) throw Error("Keine Verbindung zum Server.");
        auto deadline = StepDeadline();
        size_t done = 0;
        while (done < bytes.size()) {
            size_t n = 0;
            CURLcode rc = curl_easy_send(curl.get(), bytes.data() + done, bytes.size() - done, &n);
            if (rc == CURLE_AGAIN) {
                if (!Wait(POLLOUT, deadline))
                    Fail("Zeitüberschreitung beim Senden an den Server (" + std::to_string(stepTimeoutMs) +
                         " ms).");
                continue;
            }
            if (rc != CURLE_OK) Fail(std::string("Fehler beim Senden an den Server: ") + curl_easy_strerror(rc));
            done += n;
            deadline = StepDeadline();   // the limit applies to a standstill, not to the whole data
        }
    }

    std::string ReadLine(Clock::time_point deadline) {
        for (;;) {
            size_t nl = inbuf.find('\n');
            if (nl != std::string::npos) {
                std::string line = inbuf.substr(0, nl);
                inbuf.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (inbuf.size() > kMaxReplySize) Fail("Ungültige Antwort des Servers.");
            // Read first, wait only when nothing is there: TLS may hold
            // decrypted bytes that the socket no longer shows.
            char buf[4096];
            size_t n = 0;
            CURLcode rc = curl_easy_recv(curl.get(), buf, sizeof buf, &n);
            if (rc == CURLE_AGAIN) {
                if (!Wait(POLLIN, deadline)) Fail(NoAnswerText());
                continue;
            }
            if (rc != CURLE_OK) Fail(std::string("Fehler beim Lesen vom Server: ") + curl_easy_strerror(rc));
            if (n == 0) {
                Drop();
                throw ConnectionClosed("Der Server hat die Verbindung beendet.");
            }
            inbuf.append(buf, n);
        }
    }

    // One reply, possibly of several lines ("250-...", "250 ..."). A 421 reply
    // means the server is closing the connection; the session closes too.
    Reply ReadReply() {
        if (!Connected()) throw Error("Keine Verbindung zum Server.");
        auto deadline = StepDeadline();
        Reply r;
        size_t total = 0;
        for (;;) {
            std::string line = ReadLine(deadline);
            total += line.size();
            bool ok = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                      std::isdigit(static_cast<unsigned char>(line[1])) &&
                      std::isdigit(static_cast<unsigned char>(line[2])) &&
                      (line.size() == 3 || line[3] == ' ' || line[3] == '-');
            if (!ok || total > kMaxReplySize) Fail("Ungültige Antwort des Servers: " + line.substr(0, 200));
            int code = std::stoi(line.substr(0, 3));
            if (r.code != 0 && code != r.code) Fail("Ungültige Antwort des Servers: " + line.substr(0, 200));
            r.code = code;
            if (!r.text.empty()) r.text += ' ';
            r.text += line;
            if (line.size() == 3 || line[3] == ' ') break;
        }
        if (r.code == 421) Drop();
        return r;
    }

    Reply Command(const std::string& line) {
        SendAll(line + "\r\n");
        return ReadReply();
    }

    // A command of a mail transaction was refused: the transaction is reset
    // and the session stays for the next message.
    [[noreturn]] void Refused(const std::string& message) {
        if (Connected()) {
            try {
                if (Command("RSET").code != 250) Drop();
            } catch (const Error&) {
                // the session is closed already; the refusal is what counts
            }
        }
        throw Error(message);
    }

    // The time-limit failure of a step after the connection was made.
    std::string NoAnswerText(bool opening = false) const {
        std::string text = "Zeitüberschreitung: keine Antwort des Servers (" + std::to_string(stepTimeoutMs) + " ms).";
        // A server that says nothing at all after the connection may be
        // waiting for TLS to begin: the usual mistake with port 465.
        if (opening && tls != TMailTls::Smtps && bytesIn == 0)
            text += " Erwartet der Server TLS von Beginn an (meist Port 465), passt die Einstellung \"SMTPS\".";
        return text;
    }

    static int OnCurlDebug(CURL*, curl_infotype type, char* data, size_t size, void* userp) {
        Impl& self = *static_cast<Impl*>(userp);
        if (type != CURLINFO_TEXT) self.traffic = true;
        switch (type) {
        case CURLINFO_HEADER_OUT:   // a command: what follows is its reply
            self.lastReply.clear();
            self.lastActivity = Clock::now();
            break;
        case CURLINFO_HEADER_IN: {   // one line of a reply
            std::string line(data, size);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            if (!self.lastReply.empty()) self.lastReply += ' ';
            if (self.lastReply.size() < 1000) self.lastReply += line.substr(0, 200);
            self.bytesIn += size;
            self.lastActivity = Clock::now();
            break;
        }
        case CURLINFO_DATA_IN:
        case CURLINFO_SSL_DATA_IN:
            self.bytesIn += size;
            self.lastActivity = Clock::now();
            break;
        case CURLINFO_DATA_OUT:
        case CURLINFO_SSL_DATA_OUT: self.lastActivity = Clock::now(); break;
        default: break;   // libcurl's own notes
        }
        return 0;
    }

    static CURLcode OnSslContext(CURL*, void* sslctx, void* userp) {
        const Impl& self = *static_cast<const Impl*>(userp);
        // libcurl has filled the store with the system's certificates; the
        // file's are added to them.
        X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslctx));
        for (const X509Ptr& x : self.trusted) X509_STORE_add_cert(store, x.get());
        ERR_clear_error();   // a certificate that is there already is no fault
        return CURLE_OK;
    }

    // Why libcurl could not open the session, in German.
    std::string OpenFailure(CURLcode rc, const std::string& detail, bool connected, int connectTimeoutMs) const {
        const std::string reply = lastReply.empty() ? detail : lastReply;
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST: return "Der Servername ist unbekannt. (" + detail + ")";
        case CURLE_COULDNT_CONNECT: return "Der Server nimmt keine Verbindung an. (" + detail + ")";
        case CURLE_OPERATION_TIMEDOUT:
            return connected ? NoAnswerText(true)
                             : "Zeitüberschreitung beim Verbindungsaufbau (" + std::to_string(connectTimeoutMs) +
                                   " ms).";
        case CURLE_WEIRD_SERVER_REPLY: return "Der Server verweigert die Verbindung: " + reply;
        case CURLE_LOGIN_DENIED: return "Anmeldung abgelehnt: " + reply;
        case CURLE_USE_SSL_FAILED:
            return "Der Server " + host +
                   " bietet keine verschlüsselte Verbindung (STARTTLS) an; Benutzername und Kennwort werden nicht "
                   "unverschlüsselt gesendet. (" + reply + ")";
        case CURLE_PEER_FAILED_VERIFICATION: {
            // A chain OpenSSL refused ends the handshake with its reason.
            // After a good handshake libcurl checks the name, before it
            // records the chain's result (left at 1 then).
            long verify = X509_V_OK;
            curl_easy_getinfo(curl.get(), CURLINFO_SSL_VERIFYRESULT, &verify);
            if (verify == X509_V_OK || verify == 1)
                return "Das Zertifikat des Servers gilt nicht für den Namen " + host + ". (" + detail + ")";
            return "Das Zertifikat des Servers " + host + " wird nicht anerkannt: " + CertificateProblem(verify) + ".";
        }
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CERTPROBLEM: {
            std::string text = "Die verschlüsselte Verbindung zu " + host + " kommt nicht zustande. (" + detail + ")";
            if (tls == TMailTls::Smtps)
                text += " Beginnt der Server unverschlüsselt (meist Port 587 oder 25), passt die Einstellung "
                        "\"STARTTLS\".";
            return text;
        }
        default: return "Verbindungsfehler. (" + detail + ")";
        }
    }

    void Open(int connectTimeoutMs) {
        if (host.empty()) throw Error("Kein Mailserver angegeben.");
        if (!IsServerNameUsable(host)) throw Error("Ungültiger Servername \"" + host + "\".");
        if (port < 1 || port > 65535) throw Error("Ungültige Portnummer " + std::to_string(port) + ".");
        std::vector<X509Ptr> extra;
        if (!caFile.empty()) extra = ReadTrustedCertificates(caFile);

        CurlGlobalInit();
        multi.reset(curl_multi_init());
        curl.reset(curl_easy_init());
        if (!multi || !curl) Fail("Die Verbindung kann nicht angelegt werden.");
        trusted = std::move(extra);
        lastActivity = Clock::now();
        traffic = false;
        bytesIn = 0;
        lastReply.clear();
        CURL* c = curl.get();
        // CONNECT_ONLY with an SMTP address: libcurl connects, greets, secures
        // the connection and logs in, then stops; the transactions are ours.
        // Proxies from the environment are not used.
        const std::string url = std::string(tls == TMailTls::Smtps ? "smtps://" : "smtp://") +
                                (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                                std::to_string(port) + "/";
        long useSsl = CURLUSESSL_NONE;
        if (tls == TMailTls::Smtps) useSsl = CURLUSESSL_ALL;
        if (tls == TMailTls::StartTls) useSsl = user.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL;
        char errbuf[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
        curl_easy_setopt(c, CURLOPT_USE_SSL, useSsl);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(c, CURLOPT_CA_CACHE_TIMEOUT, 0L);
        if (!trusted.empty()) {
            curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, this);
            if (curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &Impl::OnSslContext) != CURLE_OK)
                Fail("EMAIL_CAFILE wird von dieser libcurl nicht unterstützt (TLS-Bibliothek ohne OpenSSL).");
        }
        if (!user.empty()) {
            curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
        }
        // Our own watch keeps the time limits (below); libcurl's limit only
        // catches a session that trickles on for very long.
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(std::max(connectTimeoutMs, 1)) + 20L * stepTimeoutMs);
        curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(stepTimeoutMs / 1000 + 2));
        curl_easy_setopt(c, CURLOPT_PROXY, "");
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
        curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &Impl::OnCurlDebug);
        curl_easy_setopt(c, CURLOPT_DEBUGDATA, this);
        curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);   // feeds OnCurlDebug only; nothing is printed

        // The connection within the connect time limit, then each step
        // (every byte either way, the handshake's included) within the step
        // time limit.
        const auto start = Clock::now();
        std::optional<Clock::time_point> connectedAt;
        CURLcode rc = CURLE_OK;
        curl_multi_add_handle(multi.get(), c);
        for (;;) {
            int running = 0;
            CURLMcode mc = curl_multi_perform(multi.get(), &running);
            if (mc != CURLM_OK) Fail(std::string("Verbindungsfehler. (") + curl_multi_strerror(mc) + ")");
            bool done = running == 0;
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued))
                if (msg->msg == CURLMSG_DONE) {
                    rc = msg->data.result;
                    done = true;
                }
            if (!connectedAt) {
                // Connected once libcurl says so, or once bytes flow (with
                // SMTPS libcurl counts the connection as made only after the
                // handshake).
                curl_off_t t = 0;
                if (traffic || (curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &t) == CURLE_OK && t > 0))
                    connectedAt = Clock::now();
            }
            if (done) break;
            const auto now = Clock::now();
            const auto deadline = connectedAt
                                      ? std::max(*connectedAt, lastActivity) + std::chrono::milliseconds(stepTimeoutMs)
                                      : start + std::chrono::milliseconds(std::max(connectTimeoutMs, 1));
            if (now >= deadline) {
                if (connectedAt) Fail(NoAnswerText(true));
                Fail("Zeitüberschreitung beim Verbindungsaufbau (" + std::to_string(connectTimeoutMs) + " ms).");
            }
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
            curl_multi_poll(multi.get(), nullptr, 0, int(std::min<long long>(wait, 1000)), nullptr);
        }
        curl_easy_setopt(c, CURLOPT_VERBOSE, 0L);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
        trusted.clear();
        if (rc != CURLE_OK) {
            const std::string detail = errbuf[0] ? errbuf : curl_easy_strerror(rc);
            Fail(OpenFailure(rc, detail, connectedAt.has_value(), connectTimeoutMs));
        }
        curl_socket_t s = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &s) != CURLE_OK || s == CURL_SOCKET_BAD)
            Fail("Die Verbindung zum Server ist nicht verfügbar.");
        sock = s;
    }

    // True while the session is usable; a look without waiting.
    bool IsOpen() {
        if (!Connected()) return false;
        if (!inbuf.empty()) {   // something the server sent unasked: it is giving up
            Drop();
            return false;
        }
        // Nothing may be waiting while no reply is due. Reading (rather than
        // polling the socket) lets TLS handle its own records, such as the
        // session tickets a TLS 1.3 server sends after the handshake.
        char buf[512];
        size_t n = 0;
        if (curl_easy_recv(curl.get(), buf, sizeof buf, &n) == CURLE_AGAIN) return true;
        // The server closed the connection, announced that it does (421) or
        // the connection broke.
        Drop();
        return false;
    }

    void SendMail(const std::string& from, const std::vector<std::string>& recipients,
                  const std::string& data) {
        if (!IsOpen()) throw Error("Keine Verbindung zum Server.");
        if (!IsValidMailAddress(from)) throw Error("Ungültige Absenderadresse: \"" + from + "\"");
        if (recipients.empty()) throw Error("Keine Empfängeradresse angegeben.");
        for (const std::string& rcpt : recipients)
            if (!IsValidMailAddress(rcpt)) throw Error("Ungültige Empfängeradresse: \"" + rcpt + "\"");

        Reply r = Command("MAIL FROM:<" + from + ">");
        if (r.code != 250) Refused("Absender " + from + " abgelehnt: " + r.text);
        for (const std::string& rcpt : recipients) {
            r = Command("RCPT TO:<" + rcpt + ">");
            if (r.code != 250 && r.code != 251) Refused("Empfänger " + rcpt + " abgelehnt: " + r.text);
        }
        r = Command("DATA");
        if (r.code != 354) Refused("Der Server nimmt die Nachricht nicht an: " + r.text);
        SendAll(DataForTransfer(data));
        r = ReadReply();
        if (r.code != 250) throw Error("Der Server hat die Nachricht abgelehnt: " + r.text);
    }

    void Close() {
        if (!Connected()) return;
        try {
            Command("QUIT");
        } catch (const ConnectionClosed&) {
            // closing right away instead of answering is fine
        } catch (...) {
            Drop();
            throw;
        }
        Drop();
    }
};

SmtpSession::SmtpSession() : impl_(std::make_unique<Impl>()) {}
SmtpSession::~SmtpSession() = default;

void SmtpSession::SetServer(const std::string& host, int port) {
    impl_->host = host;
    impl_->port = port;
}

void SmtpSession::SetLogin(const std::string& user, const std::string& password) {
    impl_->user = user;
    impl_->password = password;
}

void SmtpSession::SetSecurity(TMailTls tls, const std::string& caFile) {
    impl_->tls = tls;
    impl_->caFile = caFile;
}

void SmtpSession::SetStepTimeout(int milliseconds) { impl_->stepTimeoutMs = milliseconds > 0 ? milliseconds : 1; }

void SmtpSession::Open(int connectTimeoutMs) {
    if (impl_->IsOpen()) return;
    impl_->Open(connectTimeoutMs);
}

bool SmtpSession::IsOpen() { return impl_->IsOpen(); }

void SmtpSession::SendMail(const std::string& envelopeFrom, const std::vector<std::string>& recipients,
                           const std::string& data) {
    impl_->SendMail(envelopeFrom, recipients, data);
}

void SmtpSession::Close() { impl_->Close(); }

void CheckMailCaFile(const std::string& path) { ReadTrustedCertificates(path); }

TSmtpEmail::TSmtpEmail(const std::string& host, int port, const std::string& user,
                       const std::string& password, int connectTimeoutMs)
    : user_(user), password_(password) {
    SetupMailer(host, port, password, user, connectTimeoutMs);
}

} // namespace brenvo
