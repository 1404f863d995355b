// The mailer against a real SMTP server on 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "common/TempDir.h"
#include "common/TestPki.h"
#include "lib/base/Files.h"
#include "lib/base/Format.h"
#include "lib/base/Strings.h"
#include "mail/MailExpectations.h"
#include "mail/SmtpTestServer.h"
#include "mail/U_Email.h"

using namespace brenvo;

namespace {

// Status reports as the main window logs them ("%d/%d %s"), with the connected flag.
struct StatusLog {
    std::vector<std::string> lines;
    std::vector<bool> connected;
    TMailStatusCallback Callback() {
        return [this](int sent, int total, bool conn, const std::string& text) {
            lines.push_back(Format("%d/%d %s", {sent, total, text}));
            connected.push_back(conn);
        };
    }
};

TSystem Settings(int port) {
    TSystem s;
    s.EMAIL_SMTP = true;
    s.EMAIL_SERVER = "127.0.0.1";
    s.EMAIL_PORT = std::to_string(port);
    s.EMAIL_SENDER = "abrechnung@fahrdienst.example";
    return s;
}

// The two files of an order as the order archive hands them over.
struct OrderFiles {
    std::string record, data;
};

OrderFiles MakeOrder(const TempDir& dir, const std::string& transfer) {
    OrderFiles f{dir.file(transfer + ".AUF"), dir.file(transfer)};
    AtomicWriteFile(f.record, "500000" + transfer + "\r\n");
    AtomicWriteFile(f.data, "UNA:+,? 'UNB+UNOC:3+" + transfer + "'\r\n");
    return f;
}

// Three orders in one batch (EHSA0001 to EHSA0003), the second one to
// "abgelehnt@example.com"; the mailer's result for each.
std::vector<std::string> SendBatchOfThree(TMailerHolder& holder, const TSystem& s, const TempDir& dir,
                                          StatusLog& log) {
    const std::vector<std::string> to = {"eins@example.com", "abgelehnt@example.com", "drei@example.com"};
    std::vector<std::string> results;
    for (int i = 0; i < 3; ++i) {
        OrderFiles f = MakeOrder(dir, "EHSA000" + std::to_string(i + 1));
        results.push_back(SendOrderMailSmtp(holder, s, log.Callback(),
                                            OrderMailContent(s, to[i], "123456789", f.record, f.data, Now()), 3));
    }
    return results;
}

// Sets the time zone for one test and restores the one before.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

std::string Normalized(std::string s) { return ReplaceAll(std::move(s), "\r\n", "\n"); }

} // namespace

TEST(SmtpMail, MessageArrivesWithItsHeadersBodyAndAttachments) {
    SmtpTestServer server;
    TempDir dir;
    ZoneGuard zone("Europe/Berlin");

    std::string binary;
    for (int i = 0; i < 256; ++i) binary += char(i);
    binary += "\r\n.\r\nx\r..\n.\r\n\r\n";
    const std::string record = dir.file("EHSA0123.AUF");
    AtomicWriteFile(record, binary);
    std::string text = "Zeile 1\r\nZeile 2\n.\r\n\xC3\x84\xC3\x96\xC3\x9C\xFF";
    text += '\0';
    text += "\r";
    const std::string longName = "Datenübermittlung für die Annahmestelle Köln ÄÖÜ.dat";
    const std::string other = dir.file("andere.dat");
    AtomicWriteFile(other, text);

    MailContent c;
    c.sender = "Fahrdienst Müller <absender@example.org>";
    c.recipient = "annahme@example.com";
    c.bcc = "  kopie@example.org ";
    c.date = EncodeDateTime(2014, 10, 15, 14, 5, 3);
    c.subject = "Abrechnung für Krankenfahrten Müller & Söhne, Ärztehaus Süd – 123456789 (Übertragung)";
    c.body = kOrderMailBody;
    c.attachments = {{record, ""}, {dir.file("fehlt.dat"), "fehlt.dat"}, {other, longName}};

    TMailerHolder holder;
    StatusLog log;
    TKelmarMailer& mailer = holder.GetMailer("127.0.0.1", server.port(), "", log.Callback(), 1000, "");
    ASSERT_EQ(mailer.Connect(), "");
    ASSERT_EQ(mailer.Send(BuildMailMessage(c)), "");

    // A second message in the same session: dots at line starts, a long line, blanks at a line end.
    MailContent c2 = c;
    c2.bcc = "";
    c2.attachments.clear();
    c2.body = ".\r\n..zwei\r\n" + std::string(100, 'x') + " äöü " + std::string(100, '=') + "  \r\nEnde\r\n";
    ASSERT_EQ(mailer.Send(BuildMailMessage(c2)), "");
    holder.ReleaseMailer();

    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    const ReceivedMail& m = msgs[0];
    EXPECT_TRUE(m.defects.empty()) << Join(m.defects, "; ");
    EXPECT_EQ(m.from, "absender@example.org");
    EXPECT_EQ(m.rcpt, (std::vector<std::string>{"annahme@example.com", "kopie@example.org"}));
    EXPECT_TRUE(m.auth.empty());
    ExpectSender(m, "Fahrdienst Müller <absender@example.org>");
    EXPECT_EQ(m.Header("To"), "annahme@example.com");
    EXPECT_EQ(m.Header("Subject"), c.subject);
    EXPECT_EQ(m.HeaderCount("Bcc"), 0);
    EXPECT_EQ(m.raw.find("kopie@"), std::string::npos);
    EXPECT_EQ(m.date, "2014-10-15T14:05:03+02:00");
    EXPECT_NE(m.raw.find("Date: Wed, 15 Oct 2014 14:05:03 +0200\r\n"), std::string::npos);
    EXPECT_EQ(m.HeaderCount("Message-ID"), 1);
    EXPECT_EQ(m.Header("MIME-Version"), "1.0");

    ASSERT_EQ(m.parts.size(), 3u);
    EXPECT_EQ(m.parts[0].contentType, "text/plain");
    EXPECT_EQ(m.parts[0].charset, "utf-8");
    EXPECT_EQ(m.parts[0].disposition, "-");
    EXPECT_EQ(m.parts[0].payload, "Datenübertragung");
    EXPECT_EQ(m.parts[1].disposition, "attachment");
    EXPECT_EQ(m.parts[1].fileName, "EHSA0123.AUF");
    EXPECT_EQ(m.parts[1].payload, binary);
    EXPECT_EQ(m.parts[2].disposition, "attachment");
    EXPECT_EQ(m.parts[2].fileName, longName);
    EXPECT_EQ(m.parts[2].payload, text);

    // Every line ends with CR LF and stays within 78 characters.
    for (const std::string& raw : {m.raw, msgs[1].raw}) {
        size_t start = 0;
        while (start < raw.size()) {
            size_t lf = raw.find('\n', start);
            ASSERT_NE(lf, std::string::npos);
            EXPECT_EQ(raw[lf - 1], '\r');
            EXPECT_LE(lf - 1 - start, 78u) << raw.substr(start, lf - start);
            start = lf + 1;
        }
    }

    const ReceivedMail& m2 = msgs[1];
    EXPECT_TRUE(m2.defects.empty()) << Join(m2.defects, "; ");
    EXPECT_EQ(m2.rcpt, std::vector<std::string>{"annahme@example.com"});
    ASSERT_EQ(m2.parts.size(), 1u);
    EXPECT_EQ(Normalized(m2.parts[0].payload), Normalized(c2.body));
    EXPECT_EQ(m2.peer, m.peer);
    EXPECT_EQ(server.Connections().size(), 1u);
}

TEST(SmtpMail, LogsInWithLoginOnlyWhenAUserNameIsGiven) {
    SmtpServerOptions opt;
    opt.user = "kasse";
    opt.password = "gehe!m&ü";
    SmtpTestServer server(opt);
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    TSystem s = Settings(server.port());
    s.EMAIL_TLS = TMailTls::None;   // a relay on the local network, chosen so
    s.EMAIL_PWD = "gehe!m&ü";
    auto content = OrderMailContent(s, "annahme@example.com", "123456789", f.record, f.data, Now());

    {   // a password alone does not log in
        TMailerHolder holder;
        EXPECT_EQ(SendOrderMailSmtp(holder, s, nullptr, content, 1), "");
    }
    EXPECT_TRUE(server.AuthAttempts().empty());
    {
        s.EMAIL_USER = "kasse";
        TMailerHolder holder;
        EXPECT_EQ(SendOrderMailSmtp(holder, s, nullptr, content, 1), "");
    }
    ASSERT_EQ(server.AuthAttempts().size(), 1u);
    EXPECT_EQ(server.AuthAttempts()[0], (std::vector<std::string>{"LOGIN", "kasse", "gehe!m&ü", "ok", "plain"}));
    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_TRUE(msgs[0].auth.empty());
    EXPECT_EQ(msgs[1].auth, (std::vector<std::string>{"LOGIN", "kasse", "gehe!m&ü"}));

    s.EMAIL_PWD = "falsch";
    TMailerHolder holder;
    StatusLog log;
    std::string err = SendOrderMailSmtp(holder, s, log.Callback(), content, 1);
    const std::string prefix = "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(server.port()) + " ";
    EXPECT_TRUE(StartsWith(err, prefix)) << err;
    EXPECT_TRUE(Contains(err, "535")) << err;
    EXPECT_FALSE(holder.Mailer()->IsConnected());
    EXPECT_EQ(log.lines.back(), "0/0 " + err);
    EXPECT_EQ(server.Messages().size(), 2u);
}

TEST(SmtpMail, BatchWithARefusedRecipientSendsTheOthersInOneSession) {
    SmtpServerOptions opt;
    opt.refuse = {"abgelehnt@example.com"};
    SmtpTestServer server(opt);
    TempDir dir;
    TSystem s = Settings(server.port());
    s.EMAIL_BCC = "   ";

    TMailerHolder holder;
    StatusLog log;
    const std::vector<std::string> results = SendBatchOfThree(holder, s, dir, log);
    holder.ReleaseMailer();
    EXPECT_EQ(holder.Mailer(), nullptr);

    const std::string refused = RefusedRecipientText("abgelehnt@example.com");
    EXPECT_EQ(results, (std::vector<std::string>{"", refused, ""}));
    EXPECT_EQ(log.lines, SecondOfThreeRefusedLines("abgelehnt@example.com"));
    EXPECT_EQ(log.connected, (std::vector<bool>{false, true, true, true, true, true, true, true, true, false}));

    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].rcpt, std::vector<std::string>{"eins@example.com"});
    EXPECT_EQ(msgs[1].rcpt, std::vector<std::string>{"drei@example.com"});
    EXPECT_EQ(server.Connections().size(), 1u);
    EXPECT_EQ(msgs[0].peer, msgs[1].peer);
    // The order mail: no Bcc for a blank setting, the record first, then the billing data.
    const ReceivedMail& m = msgs[1];
    ExpectSender(m, "abrechnung@fahrdienst.example");
    EXPECT_EQ(m.Header("Subject"), "123456789");
    ASSERT_EQ(m.parts.size(), 3u);
    EXPECT_EQ(m.parts[0].payload, "Datenübertragung");
    EXPECT_EQ(m.parts[1].fileName, "EHSA0003.AUF");
    EXPECT_EQ(m.parts[1].payload, "500000EHSA0003\r\n");
    EXPECT_EQ(m.parts[2].fileName, "EHSA0003");
    EXPECT_EQ(m.parts[2].payload, "UNA:+,? 'UNB+UNOC:3+EHSA0003'\r\n");
}

TEST(SmtpMail, NoServerListeningGivesTheHostAndPort) {
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    const int port = FreeLoopbackPort();
    TSystem s = Settings(port);
    auto content = OrderMailContent(s, "annahme@example.com", "123456789", f.record, f.data, Now());

    TMailerHolder holder;
    StatusLog log;
    std::string err = SendOrderMailSmtp(holder, s, log.Callback(), content, 1);
    EXPECT_TRUE(StartsWith(err, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(port) + " "))
        << err;
    EXPECT_EQ(log.lines, (std::vector<std::string>{"0/0 Email: Verbinde zum Server ...", "0/0 " + err}));

    // Sending without a connection reports nothing and counts nothing.
    TKelmarMailer& mailer = *holder.Mailer();
    EXPECT_EQ(mailer.Send(BuildMailMessage(content)), "Email: keine Verbindung zum Server.");
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(mailer.SentCount(), 0);

    s.EMAIL_PORT = "smtp";
    TMailerHolder holder2;
    err = SendOrderMailSmtp(holder2, s, nullptr, content, 1);
    EXPECT_TRUE(StartsWith(err, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:0 ")) << err;
}

TEST(SmtpMail, ServerThatStopsAnsweringFailsWithinTheTimeLimit) {
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    using Clock = std::chrono::steady_clock;
    {   // accepts the connection, never greets
        SmtpServerOptions opt;
        opt.mute = true;
        SmtpTestServer server(opt);
        TSystem s = Settings(server.port());
        TMailerHolder holder(300);
        auto t0 = Clock::now();
        std::string err = SendOrderMailSmtp(
            holder, s, nullptr, OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(err, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(server.port()) +
                           " Zeitüberschreitung: keine Antwort des Servers (300 ms). Erwartet der Server TLS von "
                           "Beginn an (meist Port 465), passt die Einstellung \"SMTPS\".");
        EXPECT_EQ(server.Connections().size(), 1u);

        // With TLS from the start the handshake has the same limit.
        s.EMAIL_TLS = TMailTls::Smtps;
        TMailerHolder tlsHolder(300);
        t0 = Clock::now();
        err = SendOrderMailSmtp(tlsHolder, s, nullptr,
                                OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(err, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(server.port()) +
                           " Zeitüberschreitung: keine Antwort des Servers (300 ms).");
    }
    {   // takes the message and never confirms it
        SmtpServerOptions opt;
        opt.hangData = true;
        SmtpTestServer server(opt);
        TSystem s = Settings(server.port());
        TMailerHolder holder(300);
        StatusLog log;
        auto t0 = Clock::now();
        std::string err = SendOrderMailSmtp(
            holder, s, log.Callback(), OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
        EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
        EXPECT_TRUE(StartsWith(err, "Email: Fehler beim Senden. Zeitüberschreitung")) << err;
        EXPECT_EQ(log.lines.back(), "0/1 " + err);
        EXPECT_EQ(holder.Mailer()->SentCount(), 0);
        EXPECT_FALSE(holder.Mailer()->IsConnected());
        EXPECT_EQ(holder.Mailer()->Disconnect(), err);   // nothing left to close
        holder.ReleaseMailer();
    }
}

TEST(SmtpMail, ChangedSettingsTakeEffectOnlyAfterRelease) {
    SmtpTestServer server;
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    TSystem s = Settings(server.port());
    auto content = OrderMailContent(s, "annahme@example.com", "123456789", f.record, f.data, Now());
    TMailerHolder holder;
    EXPECT_EQ(SendOrderMailSmtp(holder, s, nullptr, content, 1), "");

    const int deadPort = FreeLoopbackPort();
    s.EMAIL_PORT = std::to_string(deadPort);
    s.EMAIL_USER = "kasse";
    EXPECT_EQ(SendOrderMailSmtp(holder, s, nullptr, content, 1), "");
    EXPECT_EQ(holder.Mailer()->Port(), server.port());
    EXPECT_EQ(server.Messages().size(), 2u);
    EXPECT_TRUE(server.AuthAttempts().empty());

    holder.ReleaseMailer();
    std::string err = SendOrderMailSmtp(holder, s, nullptr, content, 1);
    EXPECT_TRUE(StartsWith(err, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(deadPort)))
        << err;
    EXPECT_EQ(server.Connections().size(), 1u);
}

TEST(SmtpMail, ConnectionClosedByTheServerIsOpenedAgainForTheNextOrder) {
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    auto first = std::make_unique<SmtpTestServer>();
    const int port = first->port();
    TSystem s = Settings(port);
    auto content = OrderMailContent(s, "annahme@example.com", "123456789", f.record, f.data, Now());
    TMailerHolder holder;
    StatusLog log;
    EXPECT_EQ(SendOrderMailSmtp(holder, s, log.Callback(), content, 1), "");
    first.reset();   // the server goes away while the mailer stays

    SmtpServerOptions opt;
    opt.port = port;
    SmtpTestServer second(opt);
    EXPECT_EQ(SendOrderMailSmtp(holder, s, log.Callback(), content, 1), "");
    EXPECT_EQ(second.Messages().size(), 1u);
    EXPECT_EQ(log.lines[4], "1/1 Email: Verbinde zum Server ...");
    EXPECT_EQ(log.lines.back(), "2/1 Email: gesendet.");
}

TEST(SmtpMail, OrderWithoutItsFilesIsNotSent) {
    SmtpTestServer server;
    TempDir dir;
    OrderFiles f = MakeOrder(dir, "EHSA0001");
    DeleteFile(f.data);
    TSystem s = Settings(server.port());
    TMailerHolder holder;
    StatusLog log;
    std::string err = SendOrderMailSmtp(holder, s, log.Callback(),
                                        OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
    EXPECT_EQ(err, "Email: Fehler beim Senden. Datei nicht gefunden: " + f.data);
    EXPECT_EQ(log.lines.back(), "0/1 " + err);
    EXPECT_EQ(holder.Mailer()->SentCount(), 0);
    EXPECT_TRUE(holder.Mailer()->IsConnected());

    err = SendOrderMailSmtp(holder, s, log.Callback(),
                            OrderMailContent(s, "?importiert", "1", f.record, f.record, Now()), 1);
    EXPECT_EQ(err, "Email: Fehler beim Senden. Ungültige Empfängeradresse: \"?importiert\"");
    holder.ReleaseMailer();
    EXPECT_TRUE(server.Messages().empty());
}

// ------------------------------------------------------------------ TLS

namespace {

// A CA the tests trust through EMAIL_CAFILE, a server certificate of it for
// 127.0.0.1, one of it for another name, and one of a CA nobody trusts.
class SmtpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pki_ = new TempDir;
        const std::string d = pki_->path();
        ca_ = testpki::MakeRootCa(d, "ca", "/O=Brenvo Test/CN=Test-CA");
        good_ = testpki::MakeServerCert(d, "server", ca_, "IP:127.0.0.1,DNS:localhost");
        otherName_ = testpki::MakeServerCert(d, "fremd", ca_, "DNS:mail.example.org");
        const testpki::CertKey stranger = testpki::MakeRootCa(d, "unbekannt", "/CN=Unbekannte CA");
        untrusted_ = testpki::MakeServerCert(d, "untrusted", stranger, "IP:127.0.0.1");
    }
    static void TearDownTestSuite() {
        delete pki_;
        pki_ = nullptr;
    }

    static SmtpServerOptions Tls(const testpki::CertKey& cert) {
        SmtpServerOptions o;
        o.cert = cert.cert;
        o.key = cert.key;
        o.user = "kasse";
        o.password = "geheim";
        return o;
    }
    static TSystem TlsSettings(int port, TMailTls tls, const std::string& user = "kasse") {
        TSystem s = Settings(port);
        s.EMAIL_TLS = tls;
        s.EMAIL_CAFILE = ca_.cert;
        s.EMAIL_USER = user;
        s.EMAIL_PWD = "geheim";
        return s;
    }
    std::string Send(const TSystem& s, const std::string& transfer = "EHSA0001") {
        OrderFiles f = MakeOrder(dir_, transfer);
        TMailerHolder holder;
        return SendOrderMailSmtp(holder, s, nullptr,
                                 OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
    }
    static std::string NoConnection(int port) {
        return "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(port) + " ";
    }

    static inline TempDir* pki_ = nullptr;
    static inline testpki::CertKey ca_, good_, otherName_, untrusted_;
    TempDir dir_;
};

} // namespace

TEST_F(SmtpTls, StartTlsUpgradesTheConnectionAndTheLoginHappensInsideIt) {
    for (bool required : {true, false}) {
        SCOPED_TRACE(required ? "STARTTLS required" : "STARTTLS offered");
        SmtpServerOptions opt = Tls(good_);
        opt.starttls = true;
        opt.requireStarttls = required;
        SmtpTestServer server(opt);
        EXPECT_EQ(Send(TlsSettings(server.port(), TMailTls::StartTls, "")), "");   // no login: upgraded all the same
        EXPECT_EQ(Send(TlsSettings(server.port(), TMailTls::StartTls)), "");

        auto msgs = server.Messages();
        ASSERT_EQ(msgs.size(), 2u);
        EXPECT_TRUE(msgs[0].tls && msgs[1].tls);
        EXPECT_TRUE(msgs[0].auth.empty());
        EXPECT_EQ(server.AuthAttempts(),
                  (std::vector<std::vector<std::string>>{{"LOGIN", "kasse", "geheim", "ok", "tls"}}));
        EXPECT_EQ(msgs[1].parts.at(2).payload, "UNA:+,? 'UNB+UNOC:3+EHSA0001'\r\n");
    }
}

TEST_F(SmtpTls, SmtpsEncryptsFromTheStartAndCarriesABatchInOneSession) {
    SmtpServerOptions opt = Tls(good_);
    opt.smtps = true;
    opt.refuse = {"abgelehnt@example.com"};
    SmtpTestServer server(opt);
    TSystem s = TlsSettings(server.port(), TMailTls::Smtps);

    TMailerHolder holder;
    StatusLog log;
    const std::vector<std::string> results = SendBatchOfThree(holder, s, dir_, log);
    holder.ReleaseMailer();
    EXPECT_EQ(results, (std::vector<std::string>{"", RefusedRecipientText("abgelehnt@example.com"), ""}));
    EXPECT_EQ(log.lines, SecondOfThreeRefusedLines("abgelehnt@example.com"));
    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_TRUE(msgs[0].tls && msgs[1].tls);
    EXPECT_EQ(server.Connections().size(), 1u);
    EXPECT_EQ(server.AuthAttempts(),
              (std::vector<std::vector<std::string>>{{"LOGIN", "kasse", "geheim", "ok", "tls"}}));
}

TEST_F(SmtpTls, PasswordNeverGoesToAServerWithoutStartTls) {
    SmtpServerOptions opt;
    opt.user = "kasse";
    opt.password = "geheim";
    SmtpTestServer server(opt);

    TMailerHolder holder;
    StatusLog log;
    OrderFiles f = MakeOrder(dir_, "EHSA0001");
    const TSystem s = TlsSettings(server.port(), TMailTls::StartTls);
    std::string err = SendOrderMailSmtp(holder, s, log.Callback(),
                                        OrderMailContent(s, "annahme@example.com", "1", f.record, f.data, Now()), 1);
    EXPECT_TRUE(StartsWith(err, NoConnection(server.port()) +
                                    "Der Server 127.0.0.1 bietet keine verschlüsselte Verbindung (STARTTLS) an; "
                                    "Benutzername und Kennwort werden nicht unverschlüsselt gesendet."))
        << err;
    EXPECT_EQ(log.lines.back(), "0/0 " + err);
    EXPECT_FALSE(holder.Mailer()->IsConnected());
    EXPECT_TRUE(server.AuthAttempts().empty());
    EXPECT_TRUE(server.Messages().empty());

    // TLS from the start against a server that begins in plain text.
    err = Send(TlsSettings(server.port(), TMailTls::Smtps));
    EXPECT_TRUE(StartsWith(err, NoConnection(server.port()) + "Die verschlüsselte Verbindung zu 127.0.0.1 kommt "
                                                              "nicht zustande."))
        << err;
    EXPECT_TRUE(EndsWith(err, "passt die Einstellung \"STARTTLS\".")) << err;

    // Chosen "keine": plain, login included, as a local relay wants it.
    EXPECT_EQ(Send(TlsSettings(server.port(), TMailTls::None)), "");
    EXPECT_EQ(server.AuthAttempts(),
              (std::vector<std::vector<std::string>>{{"LOGIN", "kasse", "geheim", "ok", "plain"}}));
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_FALSE(server.Messages()[0].tls);
}

TEST_F(SmtpTls, CertificateForAnotherNameOrFromAnUntrustedCaIsRefused) {
    struct Case {
        testpki::CertKey cert;
        TMailTls tls;
        std::string reason;
    };
    const std::string untrusted = "Das Zertifikat des Servers 127.0.0.1 wird nicht anerkannt: es stammt von einer "
                                  "Zertifizierungsstelle, der weder das System noch EMAIL_CAFILE vertraut.";
    const std::string otherName = "Das Zertifikat des Servers gilt nicht für den Namen 127.0.0.1. (";
    for (const Case& c : {Case{otherName_, TMailTls::Smtps, otherName}, Case{untrusted_, TMailTls::StartTls, untrusted}}) {
        SmtpServerOptions opt = Tls(c.cert);
        opt.starttls = c.tls == TMailTls::StartTls;
        opt.smtps = c.tls == TMailTls::Smtps;
        SmtpTestServer server(opt);
        const std::string err = Send(TlsSettings(server.port(), c.tls));
        EXPECT_TRUE(StartsWith(err, NoConnection(server.port()) + c.reason)) << err;
        EXPECT_TRUE(server.AuthAttempts().empty());
        EXPECT_TRUE(server.Messages().empty());
    }
}
