// brenvo-cli versenden: the orders of a processing run on a copy of the demo
// installation e-mailed to a real SMTP server on 127.0.0.1.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "common/TestPki.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "mail/SmtpTestServer.h"
#include "tests/cli/CliRunner.h"

using namespace brenvo;
using namespace clitest;
namespace fs = std::filesystem;

namespace {

struct OrderRow {
    std::string transfer, email, handle;
    bool sent;
};

class VersendenTest : public DemoCliTest {
protected:
    void MailTo(int port) {
        SetSettings({{"EMAIL_SERVER", "127.0.0.1"}, {"EMAIL_PORT", std::to_string(port)}});
    }

    // Bills the demo inbox: one order for each of its two data recipients.
    void Bill() {
        Cli({"verarbeiten"});
        ASSERT_EQ(Orders().size(), 2u);
    }
    std::vector<OrderRow> Orders() const {
        Table t;
        t.LoadFromFile(data.file("Stammdaten/Auftraege.xml"));
        std::vector<OrderRow> rows;
        for (t.First(); !t.Eof(); t.Next())
            rows.push_back({t.AsString("A_TRANSFER"), t.AsString("A_EMPF_EMAIL"), t.AsString("A_HANDLE"),
                            !t.IsNull("A_VERSANDT")});
        return rows;
    }
};

} // namespace

TEST_F(VersendenTest, SendsEveryOrderOfTheOutboxAndExitsWithZero) {
    Bill();
    SmtpTestServer server;
    MailTo(server.port());
    CliResult r = Cli({"versenden"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    for (const char* line : {"Prozess: 0/0 Email: Verbinde zum Server ...\n", "Prozess: 1/2 Email: gesendet.\n",
                             "Prozess: 2/2 Email: gesendet.\n", "Prozess: 2/2 Email: Verbindung getrennt.\n",
                             "Email: 2 von 2 Aufträgen versandt.\n"})
        EXPECT_TRUE(Contains(r.out, line)) << line << "\n" << r.out;
    EXPECT_EQ(r.err, "");

    // The marks are saved; each mail carries its order.
    const auto orders = Orders();
    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(orders[i].sent) << i;
        EXPECT_EQ(msgs[i].rcpt, std::vector<std::string>{orders[i].email});
        ASSERT_EQ(msgs[i].parts.size(), 3u);
        EXPECT_EQ(msgs[i].parts[1].fileName, orders[i].transfer + ".AUF");
        EXPECT_EQ(msgs[i].parts[1].payload, ReadFileBytes(Data("ArchivA/" + orders[i].handle + ".AUF")));
        EXPECT_EQ(msgs[i].parts[2].fileName, orders[i].transfer);
        EXPECT_EQ(msgs[i].parts[2].payload, ReadFileBytes(Data("ArchivA/" + orders[i].handle)));
    }
    EXPECT_EQ(server.Connections().size(), 1u);

    // Nothing left: nothing sent, no connection, still success.
    r = Cli({"versenden"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Email: 0 von 0 Aufträgen versandt.\n")) << r.out;
    EXPECT_EQ(server.Connections().size(), 1u);
}

TEST_F(VersendenTest, ExitsWithOneWhenAnOrderStaysUnsent) {
    Bill();
    {   // nobody listens
        const int port = FreeLoopbackPort();
        MailTo(port);
        CliResult r = Cli({"versenden"});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(port)))
            << r.out;
        EXPECT_TRUE(Contains(r.out, "Email: 0 von 2 Aufträgen versandt.\n")) << r.out;
        for (const auto& o : Orders()) EXPECT_FALSE(o.sent);
    }
    {   // the second recipient is refused
        SmtpServerOptions opt;
        opt.refuse = {Orders()[1].email};
        SmtpTestServer server(opt);
        MailTo(server.port());
        CliResult r = Cli({"versenden"});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "Prozess: 1/2 Email: Fehler beim Senden. Empfänger " + opt.refuse[0])) << r.out;
        EXPECT_TRUE(Contains(r.out, "Email: 1 von 2 Aufträgen versandt.\n")) << r.out;
        const auto orders = Orders();
        EXPECT_TRUE(orders[0].sent);
        EXPECT_FALSE(orders[1].sent);
        EXPECT_EQ(server.Messages().size(), 1u);
    }
    {   // a mail client is set, and there is none on this system
        SmtpTestServer server;
        MailTo(server.port());
        SetSettings({{"EMAIL_MAPI", "T"}});
        CliResult r = Cli({"versenden"});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, "Email (Mapi) ist auf diesem System nicht verfügbar")) << r.err;
        EXPECT_TRUE(Contains(r.out, "Email: 0 von 1 Aufträgen versandt.\n")) << r.out;
        EXPECT_FALSE(Orders()[1].sent);
        EXPECT_TRUE(server.Connections().empty());
    }
}

TEST_F(VersendenTest, SendsThroughTlsWithTheCompanysOwnCertificateAuthority) {
    Bill();
    TempDir pki;
    const testpki::CertKey ca = testpki::MakeRootCa(pki.path(), "firma-ca", "/O=Taxi Rheinufer/CN=Firmen-CA");
    const testpki::CertKey cert = testpki::MakeServerCert(pki.path(), "mail", ca, "IP:127.0.0.1");
    SmtpServerOptions opt;
    opt.cert = cert.cert;
    opt.key = cert.key;
    opt.smtps = true;
    opt.user = "kasse";
    opt.password = "geheim";
    SmtpTestServer server(opt);
    MailTo(server.port());
    fs::copy_file(ca.cert, Data("Stammdaten/firma-ca.pem"));
    SetSettings({{"EMAIL_TLS", "SMTPS"},
                 {"EMAIL_CAFILE", "Stammdaten/firma-ca.pem"},
                 {"EMAIL_USER", "kasse"},
                 {"EMAIL_PWD", "geheim"}});
    CliResult r = Cli({"versenden"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_TRUE(msgs[0].tls && msgs[1].tls);
    EXPECT_EQ(server.AuthAttempts(),
              (std::vector<std::vector<std::string>>{{"LOGIN", "kasse", "geheim", "ok", "tls"}}));
    for (const auto& o : Orders()) EXPECT_TRUE(o.sent);
}

TEST_F(VersendenTest, UsageAndStartUpFailuresExitWithTwo) {
    CliResult r = RunCli({"--help"}, elsewhere.path());
    EXPECT_TRUE(Contains(r.out, "brenvo-cli [-d DATENVERZEICHNIS] versenden\n"));
    EXPECT_TRUE(Contains(r.out, "versenden: mindestens ein Auftrag nicht versandt"));

    r = Cli({"versenden", "alle"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(StartsWith(r.err, "brenvo-cli: versenden erwartet keine weiteren Angaben: alle\n")) << r.err;

    r = RunCli({"-d", data.file("fehlt"), "versenden"}, elsewhere.path());
    EXPECT_EQ(r.code, 2);

    fs::remove(Data("Stammdaten/brenvo.XML"));
    r = Cli({"versenden"});
    EXPECT_EQ(r.code, 2) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "Init ABBRUCH ")) << r.out;
    EXPECT_TRUE(Contains(r.err, "Programmstart fehlgeschlagen.")) << r.err;
}
