// brenvo-cli versenden: the orders of a processing run on a copy of the demo
// installation e-mailed to a real SMTP server on 127.0.0.1.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"
#include "lib/dataset/Table.h"
#include "mail/SmtpTestServer.h"

using namespace brenvo;
namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) { return "'" + ReplaceAll(s, "'", "'\\''") + "'"; }

Result RunCli(const std::vector<std::string>& args, const std::string& cwd) {
    TempDir io;
    std::string cmd = "cd " + Quote(cwd) + " && " + Quote(BRENVO_CLI);
    for (const auto& a : args) cmd += " " + Quote(a);
    cmd += " >" + Quote(io.file("out")) + " 2>" + Quote(io.file("err")) + " </dev/null";
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFileBytes(io.file("out"));
    r.err = ReadFileBytes(io.file("err"));
    return r;
}

struct OrderRow {
    std::string transfer, email, handle;
    bool sent;
};

class VersendenTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::copy(std::string(BRENVO_SOURCE_DIR) + "/demo", data.path(), fs::copy_options::recursive);
    }
    std::string Data(const std::string& rel) const { return data.file(rel); }
    Result Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"-d", data.path()});
        return RunCli(args, elsewhere.path());
    }

    void SetSettings(const std::vector<std::pair<std::string, std::string>>& values) {
        Table t;
        t.LoadFromFile(Data("Stammdaten/brenvo.XML"));
        for (const auto& [k, v] : values) {
            ASSERT_TRUE(t.Locate("KEY", {Value(k)})) << k;
            t.Edit();
            t.SetString("VALUE", v);
            t.Post();
        }
        t.SaveToFile(Data("Stammdaten/brenvo.XML"));
    }
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

    TempDir data;
    TempDir elsewhere;
};

} // namespace

TEST_F(VersendenTest, SendsEveryOrderOfTheOutboxAndExitsWithZero) {
    Bill();
    SmtpTestServer server;
    MailTo(server.port());
    Result r = Cli({"versenden"});
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
        Result r = Cli({"versenden"});
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
        Result r = Cli({"versenden"});
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
        Result r = Cli({"versenden"});
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, "Email (Mapi) ist auf diesem System nicht verfügbar")) << r.err;
        EXPECT_TRUE(Contains(r.out, "Email: 0 von 1 Aufträgen versandt.\n")) << r.out;
        EXPECT_FALSE(Orders()[1].sent);
        EXPECT_TRUE(server.Connections().empty());
    }
}

TEST_F(VersendenTest, UsageAndStartUpFailuresExitWithTwo) {
    Result r = RunCli({"--help"}, elsewhere.path());
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
