#include "mail/U_Email.h"

#include <limits>

#include "lib/base/Error.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "mail/U_SmtpMail.h"

namespace brenvo {

TKelmarMailer::TKelmarMailer() : client_(std::make_unique<SmtpSession>()) {}

TKelmarMailer::~TKelmarMailer() = default;

void TKelmarMailer::SetupMailer(const std::string& host, int port, const std::string& password,
                                const std::string& user, int connectTimeoutMs) {
    connectTimeoutMs_ = connectTimeoutMs;
    host_ = host;
    port_ = port;
    client_->SetServer(host, port);
    if (!user.empty())
        client_->SetLogin(user, password);
    else
        client_->SetLogin("", "");
}

void TKelmarMailer::SetSecurity(TMailTls tls, const std::string& caFile) {
    tls_ = tls;
    client_->SetSecurity(tls, caFile);
}

void TKelmarMailer::SetStepTimeout(int milliseconds) { client_->SetStepTimeout(milliseconds); }

void TKelmarMailer::ReportStatus(const std::string& text) {
    if (status_) status_(sentCount_, batchTotal_, IsConnected(), text);
}

bool TKelmarMailer::IsConnected() { return client_->IsOpen(); }

std::string TKelmarMailer::Connect() {
    ReportStatus("Email: Verbinde zum Server ...");
    const std::string noConnection =
        "Email: Keine Verbindung zum MailServer Host=" + host_ + ":" + std::to_string(port_);
    try {
        client_->Open(connectTimeoutMs_);
    } catch (const std::exception& e) {
        errorText_ = noConnection + " " + e.what();
        ReportStatus(errorText_);
        return errorText_;
    }
    if (IsConnected()) {
        errorText_.clear();
        ReportStatus("Email: Verbindung zum Server.");
    } else {
        errorText_ = noConnection;
        ReportStatus(errorText_);
    }
    return errorText_;
}

std::string TKelmarMailer::Disconnect() {
    ReportStatus("Email: Verbindung wird getrennt ...");
    try {
        client_->Close();
    } catch (const std::exception&) {
        errorText_ = "Email: Verbindung getrennt.(Fehler)";
        ReportStatus(errorText_);
        return errorText_;
    }
    ReportStatus("Email: Verbindung getrennt.");
    return errorText_;
}

std::string TKelmarMailer::Send(const MailMessage& message) {
    if (!IsConnected()) {
        errorText_ = "Email: keine Verbindung zum Server.";
        return errorText_;
    }
    ++sentCount_;
    ReportStatus("Email: wird gesendet... ");
    try {
        client_->SendMail(message.envelopeFrom, message.recipients, message.data);
    } catch (const std::exception& e) {
        --sentCount_;
        errorText_ = std::string("Email: Fehler beim Senden. ") + e.what();
        ReportStatus(errorText_);
        return errorText_;
    }
    ReportStatus("Email: gesendet.");
    errorText_.clear();
    return errorText_;
}

TMailerHolder::TMailerHolder(int stepTimeoutMs) : stepTimeoutMs_(stepTimeoutMs) {}

// Going away without ReleaseMailer drops the connection without QUIT and
// without status reports: the owner may be half gone already.
TMailerHolder::~TMailerHolder() = default;

TKelmarMailer& TMailerHolder::GetMailer(const std::string& host, int port, const std::string& user,
                                        TMailStatusCallback status, int connectTimeoutMs,
                                        const std::string& password) {
    if (!mailer_) {
        mailer_ = std::make_unique<TSmtpEmail>(host, port, user, password, connectTimeoutMs);
        mailer_->SetStepTimeout(stepTimeoutMs_);
        mailer_->SetStatusCallback(std::move(status));
    }
    return *mailer_;
}

TKelmarMailer& TMailerHolder::GetMailer(const TSystem& settings, TMailStatusCallback status) {
    const bool created = !mailer_;
    TKelmarMailer& mailer = GetMailer(settings.EMAIL_SERVER, MailPortFromSetting(settings.EMAIL_PORT),
                                      settings.EMAIL_USER, std::move(status), kMailConnectTimeoutMs,
                                      settings.EMAIL_PWD);
    if (created) mailer.SetSecurity(settings.EMAIL_TLS, settings.EMAIL_CAFILE);
    return mailer;
}

void TMailerHolder::ReleaseMailer() {
    if (!mailer_) return;
    mailer_->Disconnect();
    mailer_.reset();
}

TKelmarMailer* TMailerHolder::Mailer() const { return mailer_.get(); }

int MailPortFromSetting(std::string_view text) {
    std::optional<int64_t> v = ParseInt(text);
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max()) return 0;
    return int(*v);
}

MailContent OrderMailContent(const TSystem& settings, const std::string& recipient,
                             const std::string& subject, const std::string& orderRecordPath,
                             const std::string& billingDataPath, TDateTime date) {
    MailContent c;
    c.sender = settings.EMAIL_SENDER;
    c.recipient = recipient;
    c.bcc = Trim(settings.EMAIL_BCC);
    c.date = date;
    c.subject = subject;
    c.body = kOrderMailBody;
    c.attachments.push_back({orderRecordPath, ExtractFileName(orderRecordPath)});
    c.attachments.push_back({billingDataPath, ExtractFileName(billingDataPath)});
    return c;
}

std::string SendOrderMailSmtp(TMailerHolder& holder, const TSystem& settings,
                              TMailStatusCallback status, const MailContent& content,
                              int batchTotal) {
    TKelmarMailer& mailer = holder.GetMailer(settings, std::move(status));
    if (!mailer.IsConnected()) mailer.Connect();
    if (!mailer.IsConnected()) return mailer.ErrorText();
    mailer.SetBatchTotal(batchTotal);
    MailMessage message;
    try {
        for (const MailAttachment& a : content.attachments)
            if (!FileExists(a.path)) throw Error("Datei nicht gefunden: " + a.path);
        message = BuildMailMessage(content);
    } catch (const Error& e) {
        std::string text = std::string("Email: Fehler beim Senden. ") + e.what();
        mailer.ReportStatus(text);
        return text;
    }
    return mailer.Send(message);
}

} // namespace brenvo
