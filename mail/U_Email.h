#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "lib/base/Settings.h"
#include "mail/MailMessage.h"

namespace brenvo {

class SmtpSession;
class TSmtpEmail;

// The time limit for making the connection to the mail server.
inline constexpr int kMailConnectTimeoutMs = 1000;
// The time limit for every later network step (a reply, sending the data).
inline constexpr int kMailStepTimeoutMs = 30000;

// Status of the mailer: messages sent through this mailer (counting the one
// being sent), the batch total, whether it is connected, and the text.
// The main window shows it as "%d/%d %s" (sent count, batch total, text).
using TMailStatusCallback =
    std::function<void(int sentCount, int batchTotal, bool connected, const std::string& text)>;

// The mailer: an SMTP client with its server, the connect time limit, the
// count of messages sent and the status reports. No operation raises; each
// gives an error text (empty on success) that also goes to the status callback.
class TKelmarMailer {
public:
    TKelmarMailer();
    virtual ~TKelmarMailer();
    TKelmarMailer(const TKelmarMailer&) = delete;
    TKelmarMailer& operator=(const TKelmarMailer&) = delete;

    // Sets the server and the connect time limit; with a user name the client
    // logs in with "LOGIN", with an empty one it does not log in at all.
    void SetupMailer(const std::string& host, int port, const std::string& password,
                     const std::string& user, int connectTimeoutMs);
    // How the connection is secured (EMAIL_TLS) and the file of certificates
    // trusted besides the system's (EMAIL_CAFILE, "" for none). The server's
    // certificate is always checked, its chain and its name.
    void SetSecurity(TMailTls tls, const std::string& caFile);

    std::string Connect();
    std::string Disconnect();
    bool IsConnected();
    std::string Send(const MailMessage& message);
    void ReportStatus(const std::string& text);

    void SetStatusCallback(TMailStatusCallback callback) { status_ = std::move(callback); }
    void SetBatchTotal(int total) { batchTotal_ = total; }
    void SetStepTimeout(int milliseconds);

    int SentCount() const { return sentCount_; }
    int BatchTotal() const { return batchTotal_; }
    const std::string& ErrorText() const { return errorText_; }
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    int ConnectTimeout() const { return connectTimeoutMs_; }
    TMailTls Tls() const { return tls_; }

private:
    std::unique_ptr<SmtpSession> client_;
    std::string host_;
    int port_ = 0;
    TMailTls tls_ = TMailTls::StartTls;
    int connectTimeoutMs_ = kMailConnectTimeoutMs;
    int sentCount_ = 0;
    int batchTotal_ = 0;
    std::string errorText_;
    TMailStatusCallback status_;
};

// Holds the one shared SMTP mailer of its owner (the main window, or the
// console program). The mailer is created by the first GetMailer with the
// settings given then and is returned unchanged by every later call, so a
// change of the settings takes effect only after ReleaseMailer.
class TMailerHolder {
public:
    explicit TMailerHolder(int stepTimeoutMs = kMailStepTimeoutMs);
    ~TMailerHolder();   // releases the mailer
    TMailerHolder(const TMailerHolder&) = delete;
    TMailerHolder& operator=(const TMailerHolder&) = delete;

    TKelmarMailer& GetMailer(const std::string& host, int port, const std::string& user,
                             TMailStatusCallback status, int connectTimeoutMs,
                             const std::string& password);
    // With the settings: EMAIL_SERVER, EMAIL_PORT (0 when not a number),
    // EMAIL_USER, EMAIL_PWD, EMAIL_TLS, EMAIL_CAFILE and the connect time
    // limit of 1000 ms.
    TKelmarMailer& GetMailer(const TSystem& settings, TMailStatusCallback status);
    // Disconnects and frees the mailer; nothing happens when there is none.
    void ReleaseMailer();
    // The shared mailer, or null when there is none.
    TKelmarMailer* Mailer() const;

private:
    std::unique_ptr<TSmtpEmail> mailer_;
    int stepTimeoutMs_;
};

// Refuses (Error) a file of trusted certificates (EMAIL_CAFILE) that does
// not exist, cannot be read or holds no certificate.
void CheckMailCaFile(const std::string& path);

// EMAIL_PORT as a number; 0 when the text is not a number.
int MailPortFromSetting(std::string_view text);

// The body text of an order mail.
inline constexpr const char* kOrderMailBody = "Datenübertragung";

// The mail of one order: From, Sender and Reply-To = EMAIL_SENDER, To = the
// recipient, Bcc = EMAIL_BCC when it is not blank, the body "Datenübertragung",
// the order record first and the billing data second, each under its own
// file name.
MailContent OrderMailContent(const TSystem& settings, const std::string& recipient,
                             const std::string& subject, const std::string& orderRecordPath,
                             const std::string& billingDataPath, TDateTime date);

// Sends one order mail by SMTP through the holder's shared mailer: gets the
// mailer, connects when it is not connected, sets the batch total, builds
// the message and sends it. The connection stays open for the next order of
// the batch; the caller releases the mailer after the batch. Returns the
// error text, empty when the mail was sent. A mail whose attachment files do
// not all exist is not sent: without them the recipient could do nothing
// with it, and the order would count as sent.
std::string SendOrderMailSmtp(TMailerHolder& holder, const TSystem& settings,
                              TMailStatusCallback status, const MailContent& content,
                              int batchTotal);

} // namespace brenvo
