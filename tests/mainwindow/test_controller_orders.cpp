// The order actions of the main window on orders written by a real
// processing run on copies of the demo installation, e-mailed to a real SMTP
// server on 127.0.0.1 (tests/mail/smtp_server.py).

#include "ControllerFixture.h"

#include <chrono>
#include <set>

#include "lib/base/Cp1252.h"
#include "mail/MailExpectations.h"
#include "mail/SmtpTestServer.h"

using namespace brenvo;
using namespace ctltest;

namespace {

const std::string kSender = "abrechnung@taxi-rheinufer.example";

const std::string kDakotaWarning =
    "Hinweis!\n\rBrenvo ist für den Versand von Emails durch Dakota konfiguriert.\n\r"
    "Das direkte Vesenden von Emails sollte daher nicht durchgeführt werden!\n\r\n\r"
    "Wollen Sie dennoch ausnahmsweise einen direkten Email-Versand durchführen?";

// The recording view, also keeping the questions and the texts shown.
struct OrderView : RecordingView {
    struct Question {
        MessageKind kind;
        std::string text, title;
        std::vector<Answer> buttons;
    };
    std::vector<Question> asked;
    std::vector<std::string> messageTitles;
    std::vector<std::pair<std::string, std::string>> texts;   // title, text

    Answer Ask(MessageKind kind, const std::string& text, const std::vector<Answer>& buttons,
               const std::string& title = {}) override {
        asked.push_back({kind, text, title, buttons});
        return RecordingView::Ask(kind, text, buttons, title);
    }
    void ShowMessage(MessageKind kind, const std::string& text, const std::string& title = {}) override {
        messageTitles.push_back(title);
        RecordingView::ShowMessage(kind, text, title);
    }
    void ShowText(const std::string& title, const std::string& text) override { texts.emplace_back(title, text); }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m.text);
        return out;
    }
};

// One order as the order archive holds it.
struct Order {
    int64_t id = 0;
    std::string handle, transfer, email, recipientIK, senderIK;
    bool sent = false;
};

// A mail client that takes every mail (or refuses it) and keeps what it got.
struct FakeMailClient : IMailClient {
    struct Mail {
        std::string recipient, subject, body;
        std::vector<std::string> attachments;
        bool showDialog;
    };
    std::vector<Mail> mails;
    std::string error;
    std::string SendMail(const std::string& recipient, const std::string& subject, const std::string& body,
                         const std::vector<std::string>& attachments, bool showDialog) override {
        mails.push_back({recipient, subject, body, attachments, showDialog});
        return error;
    }
};

// A slip report that notes the A_IDs of the rows it was run over.
struct FakeSlipReport : ISlipReport {
    struct SlipRun {
        std::vector<int64_t> ids;
        bool preview;
    };
    std::vector<SlipRun> runs;
    void Run(Table& orders, bool preview) override {
        SlipRun r{{}, preview};
        for (orders.First(); !orders.Eof(); orders.Next()) r.ids.push_back(orders.AsInteger("A_ID"));
        runs.push_back(r);
    }
};

} // namespace

class OrdersTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        EmptyInbox();
        SetSettings({{"SYST_ZUSF", "F"}});
    }

    void MailSettings(int port, const std::string& bcc = "") {
        SetSettings({{"EMAIL_SERVER", "127.0.0.1"},
                     {"EMAIL_PORT", std::to_string(port)},
                     {"EMAIL_SENDER", kSender},
                     {"EMAIL_BCC", bcc}});
    }

    // Starts the program and bills the invoices, one order each (single
    // mode): for the Rheinische OKK, R-2 for the IKK
    // Thüringen-Saale, which have different data recipients.
    std::unique_ptr<TMainController> WithOrders(int n) {
        const std::string kts[] = {kRheinOKK, kIKKThuer, kRheinOKK};
        for (int i = 0; i < n; ++i) WriteInvoice("R-" + std::to_string(i + 1), kts[i], EncodeDate(2024, 11, 22));
        auto c = std::make_unique<TMainController>(ov, dir.path());
        EXPECT_TRUE(c->Startup()) << Join(ov.log, "\n");
        c->actProzessStartExecute();
        EXPECT_EQ(c->LastRun().Billed, n) << Join(ov.log, "\n");
        EXPECT_EQ(c->Outbox().Count(), size_t(n));
        ov.log.clear();
        ov.progressTexts.clear();
        return c;
    }

    static Order Get(TMainController& c, int64_t id) {
        Order o;
        TAuftragSTore& s = *c.AuftragStore();
        EXPECT_TRUE(s.LocateById(id)) << id;
        Table& t = s.GetTable();
        o.id = id;
        o.handle = t.AsString("A_HANDLE");
        o.transfer = t.AsString("A_TRANSFER");
        o.email = t.AsString("A_EMPF_EMAIL");
        o.recipientIK = t.AsString("A_EMPF_IK");
        o.senderIK = t.AsString("A_ABS_EIGN_IK");
        o.sent = !t.IsNull("A_VERSANDT");
        return o;
    }
    static bool Sent(TMainController& c, int64_t id) { return Get(c, id).sent; }

    // The ids whose A_VERSANDT is set in "Auftraege.xml" on disk.
    std::set<int64_t> SentOnDisk() const {
        Table t;
        t.LoadFromFile(Stamm("Auftraege.xml"));
        std::set<int64_t> ids;
        for (t.First(); !t.Eof(); t.Next())
            if (!t.IsNull("A_VERSANDT")) ids.insert(t.AsInteger("A_ID"));
        return ids;
    }

    static std::vector<ItemIcon> Icons(TMainController& c) {
        std::vector<ItemIcon> out;
        for (const auto& item : c.Outbox().Items()) out.push_back(item.Icon);
        return out;
    }
    static std::vector<int64_t> OutboxIds(TMainController& c) {
        std::vector<int64_t> out;
        for (const auto& item : c.Outbox().Items()) out.push_back(item.Id);
        return out;
    }

    std::vector<std::string> MailLines() const {
        std::vector<std::string> out;
        for (const auto& l : ov.LinesWith("Prozess: ")) out.push_back(l.substr(9));
        return out;
    }
    std::string Archived(const std::string& name) const { return ReadFileBytes(Path("ArchivA/" + name)); }

    OrderView ov;
};

// ------------------------------------------------------------------ the mail itself

TEST_F(OrdersTest, OutboxMailCarriesTheOrderRecordAndBillingDataWithBccOnlyInTheEnvelope) {
    SmtpTestServer server;
    MailSettings(server.port(), " kopie@taxi-rheinufer.example ");
    auto c = WithOrders(1);
    const Order o = Get(*c, 1);
    ASSERT_FALSE(o.sent);

    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    EXPECT_TRUE(Sent(*c, 1));
    EXPECT_EQ(Icons(*c), std::vector<ItemIcon>{ItemIcon::Sent});
    EXPECT_EQ(SentOnDisk(), std::set<int64_t>{1});   // on disk at once
    EXPECT_EQ(c->Mailers().Mailer(), nullptr);        // released after a mail from the outbox
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_TRUE(ov.messages.empty());
    EXPECT_EQ(MailLines(), (std::vector<std::string>{"0/0 Email: Verbinde zum Server ...",
                                                     "0/0 Email: Verbindung zum Server.",
                                                     "1/1 Email: wird gesendet... ", "1/1 Email: gesendet.",
                                                     "1/1 Email: Verbindung wird getrennt ...",
                                                     "1/1 Email: Verbindung getrennt."}));

    // The copies in "export" below the recipient's IK, named after the transfer.
    const std::string exportDir = "export/" + o.recipientIK + "/";
    EXPECT_EQ(ReadFileBytes(Path(exportDir + o.transfer + ".AUF")), Archived(o.handle + ".AUF"));
    EXPECT_EQ(ReadFileBytes(Path(exportDir + o.transfer)), Archived(o.handle));

    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    const ReceivedMail& m = msgs[0];
    EXPECT_TRUE(m.defects.empty()) << Join(m.defects, "; ");
    EXPECT_EQ(m.from, kSender);
    EXPECT_EQ(m.rcpt, (std::vector<std::string>{o.email, "kopie@taxi-rheinufer.example"}));
    ExpectSender(m, kSender);
    EXPECT_EQ(m.Header("To"), o.email);
    EXPECT_EQ(m.HeaderCount("Bcc"), 0);
    EXPECT_EQ(m.Header("Subject"), kProvider);
    EXPECT_EQ(o.senderIK, kProvider);
    EXPECT_FALSE(m.date.empty());
    ASSERT_EQ(m.parts.size(), 3u);
    EXPECT_EQ(m.parts[0].payload, "Datenübertragung");
    EXPECT_EQ(m.parts[1].disposition, "attachment");
    EXPECT_EQ(m.parts[1].fileName, o.transfer + ".AUF");
    EXPECT_EQ(m.parts[1].payload, Archived(o.handle + ".AUF"));
    EXPECT_EQ(m.parts[1].payload.size(), 348u);
    EXPECT_EQ(m.parts[2].disposition, "attachment");
    EXPECT_EQ(m.parts[2].fileName, o.transfer);
    EXPECT_EQ(m.parts[2].payload, Archived(o.handle));
    EXPECT_TRUE(StartsWith(m.parts[2].payload, "UNA") || StartsWith(m.parts[2].payload, "UNB"));

    // A sent order is never mailed again.
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    EXPECT_EQ(server.Connections().size(), 1u);
}

TEST_F(OrdersTest, SendAllWithTheSecondRecipientRefusedMarksTheFirstAndThird) {
    auto c = WithOrders(3);
    ASSERT_EQ(OutboxIds(*c), (std::vector<int64_t>{1, 2, 3}));
    // The server refuses the address of R-2's data recipient; go to another one.
    SmtpServerOptions opt;
    opt.refuse = {Get(*c, 2).email};
    ASSERT_NE(Get(*c, 1).email, Get(*c, 2).email);
    ASSERT_EQ(Get(*c, 1).email, Get(*c, 3).email);
    SmtpTestServer server(opt);
    c->SettingsForm().EMAIL_SERVER = "127.0.0.1";
    c->SettingsForm().EMAIL_PORT = std::to_string(server.port());
    c->SettingsForm().EMAIL_SENDER = kSender;
    c->SaveSettings();
    ov.log.clear();

    const TMailBatchResult r = c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    EXPECT_EQ(r.Orders, 3);
    EXPECT_EQ(r.Sent, 2);
    EXPECT_EQ(MailLines(), SecondOfThreeRefusedLines(opt.refuse[0]));
    // No question and no message while sending the outbox.
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_TRUE(ov.messages.empty());
    EXPECT_TRUE(Sent(*c, 1));
    EXPECT_FALSE(Sent(*c, 2));
    EXPECT_TRUE(Sent(*c, 3));
    EXPECT_EQ(SentOnDisk(), (std::set<int64_t>{1, 3}));
    // The outbox is rebuilt: only the unsent order is left.
    EXPECT_EQ(OutboxIds(*c), std::vector<int64_t>{2});
    EXPECT_EQ(c->Mailers().Mailer(), nullptr);

    // One session for the batch; each mail carries its own order.
    EXPECT_EQ(server.Connections().size(), 1u);
    auto msgs = server.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    for (int k : {0, 1}) {
        const Order o = Get(*c, k == 0 ? 1 : 3);
        ASSERT_EQ(msgs[size_t(k)].parts.size(), 3u);
        EXPECT_EQ(msgs[size_t(k)].parts[1].fileName, o.transfer + ".AUF");
        EXPECT_EQ(msgs[size_t(k)].parts[1].payload, Archived(o.handle + ".AUF"));
        EXPECT_EQ(msgs[size_t(k)].parts[2].fileName, o.transfer);
        EXPECT_EQ(msgs[size_t(k)].parts[2].payload, Archived(o.handle));
    }
    EXPECT_EQ(msgs[0].peer, msgs[1].peer);

    // From the grid the action only says where it works.
    ov.messages.clear();
    EXPECT_EQ(c->actAlleEmailsVersendenExecute(TOrderSelection::InGrid(2)).Sent, 0);
    EXPECT_EQ(ov.MessageTexts(), std::vector<std::string>{"Diese Funktion ist nur im Ausgangskorb verfügbar."});
}

TEST_F(OrdersTest, CloseRequestWhileMailsGoOutWaitsForTheBatch) {
    SmtpTestServer server;
    MailSettings(server.port());
    auto c = WithOrders(2);
    std::vector<bool> enabled;
    ov.onProgress = [&](const std::string& text) {
        enabled.push_back(c->ActionEnabled(ActionCategory::Auftrag));
        if (text == "1/2 Email: gesendet.") {
            EXPECT_FALSE(c->RequestClose());
        }
    };
    EXPECT_EQ(c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({})).Sent, 2);
    ov.onProgress = nullptr;
    EXPECT_FALSE(enabled.empty());
    EXPECT_EQ(std::count(enabled.begin(), enabled.end(), true), 0);
    EXPECT_EQ(ov.closed, 0);
    EXPECT_TRUE(c->ActionEnabled(ActionCategory::Auftrag));
    // The held close request follows the batch.
    c->PumpMessages();
    EXPECT_EQ(ov.closed, 1);
    EXPECT_LT(ov.IndexOf("Prozess: 2/2 Email: gesendet."), ov.IndexOf("Init Daten speichern ..."));
    EXPECT_EQ(SentOnDisk(), (std::set<int64_t>{1, 2}));
}

// ------------------------------------------------------------------ failures

TEST_F(OrdersTest, NoServerListeningKeepsTheOrderUnsent) {
    const int port = FreeLoopbackPort();
    MailSettings(port);
    auto c = WithOrders(1);
    const std::string noConnection = "Email: Keine Verbindung zum MailServer Host=127.0.0.1:" + std::to_string(port) + " ";

    // From the outbox: no message, the order stays unsent.
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    ASSERT_EQ(MailLines().size(), 4u);
    EXPECT_EQ(MailLines()[0], "0/0 Email: Verbinde zum Server ...");
    EXPECT_TRUE(StartsWith(MailLines()[1], "0/0 " + noConnection)) << MailLines()[1];
    EXPECT_TRUE(ov.messages.empty());
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_FALSE(Sent(*c, 1));
    EXPECT_EQ(Icons(*c), std::vector<ItemIcon>{ItemIcon::NotSent});

    // From the grid: "Email nicht versandt." (Yes and No, the answer does not matter).
    ov.answers = {Answer::Yes};
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    ASSERT_EQ(ov.asked.size(), 1u);
    EXPECT_EQ(ov.asked[0].text, "Email nicht versandt.");
    EXPECT_EQ(ov.asked[0].title, "Email");
    EXPECT_EQ(ov.asked[0].buttons, (std::vector<Answer>{Answer::Yes, Answer::No}));
    EXPECT_FALSE(Sent(*c, 1));
    EXPECT_TRUE(SentOnDisk().empty());

    // A port that is not a number is port 0; the settings count once the
    // mailer left by the grid is released.
    c->SettingsForm().EMAIL_PORT = "smtp";
    c->SaveSettings();
    c->ReleaseMailer();
    ov.log.clear();
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    ASSERT_GE(MailLines().size(), 2u);
    EXPECT_TRUE(StartsWith(MailLines()[1], "0/0 Email: Keine Verbindung zum MailServer Host=127.0.0.1:0 "))
        << MailLines()[1];
    EXPECT_FALSE(Sent(*c, 1));
}

TEST_F(OrdersTest, ServerThatStopsAnsweringFailsWithinTheTimeLimit) {
    SmtpServerOptions opt;
    opt.hangData = true;
    SmtpTestServer server(opt);
    MailSettings(server.port());
    auto c = WithOrders(2);
    c->SetMailStepTimeout(300);
    const auto t0 = std::chrono::steady_clock::now();
    const TMailBatchResult r = c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(r.Orders, 2);
    EXPECT_EQ(r.Sent, 0);
    EXPECT_FALSE(Sent(*c, 1));
    EXPECT_FALSE(Sent(*c, 2));
    EXPECT_EQ(OutboxIds(*c), (std::vector<int64_t>{1, 2}));
    const auto lines = MailLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return StartsWith(l, "0/2 Email: Fehler beim Senden. Zeitüberschreitung");
    })) << Join(lines, "\n");
    EXPECT_FALSE(c->Busy());
}

TEST_F(OrdersTest, ChangedServerCountsOnlyAfterTheMailerIsReleased) {
    SmtpTestServer first, second;
    MailSettings(first.port());
    auto c = WithOrders(2);

    // From the grid the connection stays open.
    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    ASSERT_NE(c->Mailers().Mailer(), nullptr);
    EXPECT_TRUE(c->Mailers().Mailer()->IsConnected());

    c->SettingsForm().EMAIL_PORT = std::to_string(second.port());
    c->SaveSettings();
    EXPECT_EQ(c->System().EMAIL_PORT, std::to_string(second.port()));
    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(2)));
    EXPECT_EQ(first.Messages().size(), 2u);
    EXPECT_EQ(first.Connections().size(), 1u);
    EXPECT_TRUE(second.Messages().empty());

    // Released, the next mail goes to the new server.
    c->ReleaseMailer();
    c->actEmailNichtVersandtExecute(TOrderSelection::InGrid(2));
    EXPECT_FALSE(Sent(*c, 2));
    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(2)));
    EXPECT_EQ(first.Messages().size(), 2u);
    ASSERT_EQ(second.Messages().size(), 1u);
    EXPECT_EQ(second.Messages()[0].parts.at(1).fileName, Get(*c, 2).transfer + ".AUF");
}

// ------------------------------------------------------------------ marks, delete

TEST_F(OrdersTest, MarkSentNotSentAndDeleteWithTheirQuestions) {
    auto c = WithOrders(3);

    // "Email ist versandt" on two outbox items.
    c->actEmailVersandtExecute(TOrderSelection::InOutbox({1, 3, 99}));
    EXPECT_EQ(Icons(*c), (std::vector<ItemIcon>{ItemIcon::Sent, ItemIcon::NotSent, ItemIcon::Sent}));
    EXPECT_TRUE(Sent(*c, 1));
    EXPECT_TRUE(Sent(*c, 3));
    // "Email nicht versandt" in the outbox asks nothing.
    c->actEmailNichtVersandtExecute(TOrderSelection::InOutbox({3}));
    EXPECT_EQ(Icons(*c), (std::vector<ItemIcon>{ItemIcon::Sent, ItemIcon::NotSent, ItemIcon::NotSent}));
    EXPECT_FALSE(Sent(*c, 3));
    EXPECT_TRUE(ov.asked.empty());

    // The grid with two selected rows asks first; No changes nothing.
    ov.answers = {Answer::No, Answer::Yes};
    c->actEmailNichtVersandtExecute(TOrderSelection::InGrid(1, {1, 2}));
    EXPECT_TRUE(Sent(*c, 1));
    c->actEmailNichtVersandtExecute(TOrderSelection::InGrid(1, {1, 2}));
    EXPECT_FALSE(Sent(*c, 1));
    ASSERT_EQ(ov.asked.size(), 2u);
    EXPECT_EQ(ov.asked[0].text, "Liste mit 2 Einträgen bearbeiten?");
    EXPECT_EQ(ov.asked[0].buttons, (std::vector<Answer>{Answer::Yes, Answer::No}));

    // "Alle Emails sind versandt" after the safety question.
    ov.asked.clear();
    ov.answers = {Answer::No, Answer::Yes};
    c->actAlleEmailsVersandtExecute(TOrderSelection::InOutbox({}));
    EXPECT_FALSE(Sent(*c, 1));
    c->actAlleEmailsVersandtExecute(TOrderSelection::InOutbox({}));
    ASSERT_EQ(ov.asked.size(), 2u);
    EXPECT_EQ(ov.asked[1].text, "Alle Emails auf versandt setzen?");
    EXPECT_EQ(ov.asked[1].title, "Sicherheitsabfrage");
    for (int64_t id : {1, 2, 3}) EXPECT_TRUE(Sent(*c, id)) << id;
    c->RebuildOutbox();
    EXPECT_EQ(c->Outbox().Count(), 0u);

    // The grid's current row back to unsent, without a question: it returns
    // to the outbox under its recipient's name.
    ov.asked.clear();
    c->actEmailNichtVersandtExecute(TOrderSelection::InGrid(2));
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_EQ(OutboxIds(*c), std::vector<int64_t>{2});
    EXPECT_EQ(c->Outbox().Item(0).Icon, ItemIcon::NotSent);
    c->AuftragStore()->LocateById(2);
    EXPECT_EQ(c->Outbox().Item(0).Caption, c->AuftragStore()->GetTable().AsString("A_EMPF_NAME"));

    // "Löschen" asks nothing; the row goes, the files stay.
    const Order o2 = Get(*c, 2);
    c->actAuftragLoeschenExecute(TOrderSelection::InOutbox({2}));
    EXPECT_EQ(c->Outbox().Count(), 0u);
    EXPECT_FALSE(c->AuftragStore()->LocateById(2));
    EXPECT_TRUE(Exists("ArchivA/" + o2.handle + ".AUF"));
    c->actAuftragLoeschenExecute(TOrderSelection::InGrid(3));
    EXPECT_FALSE(c->AuftragStore()->LocateById(3));
    c->actAuftragLoeschenExecute(TOrderSelection::InGrid(42));   // unknown: nothing
    EXPECT_EQ(c->AuftragStore()->GetTable().RecordCount(), 1);
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_TRUE(ov.messages.empty());
}

// ------------------------------------------------------------------ DAKOTA_EMAIL, MAPI

TEST_F(OrdersTest, DakotaSendsTheMailsWarnsBeforeASingleMailButNotBeforeAll) {
    SmtpTestServer server;
    MailSettings(server.port());
    SetSettings({{"DAKOTA_EMAIL", "T"}});
    auto c = WithOrders(2);

    ov.answers = {Answer::No};
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    ASSERT_EQ(ov.asked.size(), 1u);
    EXPECT_EQ(ov.asked[0].text, kDakotaWarning);
    EXPECT_EQ(ov.asked[0].buttons, (std::vector<Answer>{Answer::Yes, Answer::No}));
    EXPECT_TRUE(server.Connections().empty());
    EXPECT_TRUE(ov.log.empty());
    EXPECT_FALSE(Sent(*c, 1));

    ov.answers = {Answer::Yes};
    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    EXPECT_TRUE(Sent(*c, 1));

    ov.asked.clear();
    EXPECT_EQ(c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({})).Sent, 1);
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_TRUE(Sent(*c, 2));
    EXPECT_EQ(server.Messages().size(), 2u);
}

TEST_F(OrdersTest, MailClientSettingOnThisSystemIsRefusedWithAMessage) {
    SmtpTestServer server;
    MailSettings(server.port());
    SetSettings({{"EMAIL_MAPI", "T"}});
    auto c = WithOrders(2);

    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    ASSERT_EQ(ov.messages.size(), 1u);
    EXPECT_EQ(ov.messages[0].kind, MessageKind::Error);
    EXPECT_TRUE(StartsWith(ov.messages[0].text, "Email (Mapi) ist auf diesem System nicht verfügbar")) << ov.messages[0].text;
    EXPECT_TRUE(Contains(ov.messages[0].text, "Email (Smtp)"));
    EXPECT_EQ(ov.messageTitles[0], "Email");
    EXPECT_TRUE(ov.asked.empty());   // neither "Email nicht versandt." nor the confirmation
    EXPECT_FALSE(Sent(*c, 1));

    // From the grid the same, and "Alle Emails versenden" says it once.
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    const TMailBatchResult r = c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    EXPECT_EQ(r.Sent, 0);
    EXPECT_EQ(ov.messages.size(), 3u);
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_EQ(OutboxIds(*c), (std::vector<int64_t>{1, 2}));
    EXPECT_TRUE(server.Connections().empty());
    EXPECT_TRUE(SentOnDisk().empty());
}

TEST_F(OrdersTest, MailClientTakingTheMailLeavesTheAnswerToTheUser) {
    SetSettings({{"EMAIL_MAPI", "T"}, {"OPT_NOEMAILDIALOG", "T"}});
    auto c = WithOrders(3);
    FakeMailClient client;
    c->SetMailClient(&client);

    // "Wurde die Email versandt?" No: the order stays in the outbox, unsent.
    ov.answers = {Answer::No};
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InOutbox({1})));
    ASSERT_EQ(client.mails.size(), 1u);
    const Order o1 = Get(*c, 1);
    const FakeMailClient::Mail& mail = client.mails[0];
    EXPECT_EQ(mail.recipient, o1.email);
    EXPECT_EQ(mail.subject, kProvider);
    EXPECT_EQ(mail.body, "Datenübermittlung\r\n");
    EXPECT_EQ(mail.attachments, (std::vector<std::string>{Path("export/" + o1.recipientIK + "/" + o1.transfer + ".AUF"),
                                                          Path("export/" + o1.recipientIK + "/" + o1.transfer)}));
    EXPECT_FALSE(mail.showDialog);
    ASSERT_EQ(ov.asked.size(), 1u);
    EXPECT_EQ(ov.asked[0].text, "Wurde die Email versandt?");
    EXPECT_EQ(ov.asked[0].title, "Email");
    EXPECT_FALSE(Sent(*c, 1));
    EXPECT_EQ(c->Outbox().Item(0).Icon, ItemIcon::NotSent);

    // Yes: sent; the client's dialog follows the settings field as it stands.
    c->SettingsForm().OPT_NOEMAILDIALOG = false;
    ov.answers = {Answer::Yes};
    EXPECT_TRUE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(1)));
    EXPECT_TRUE(client.mails.back().showDialog);
    EXPECT_TRUE(Sent(*c, 1));

    // The client refuses: from the grid "Email nicht versandt.".
    client.error = "MAPI_E_USER_ABORT";
    ov.asked.clear();
    EXPECT_FALSE(c->actEmailErzeugenExecute(TOrderSelection::InGrid(2)));
    ASSERT_EQ(ov.asked.size(), 1u);
    EXPECT_EQ(ov.asked[0].text, "Email nicht versandt.");
    EXPECT_TRUE(ov.Logged("Prozess: Email: MAPI_E_USER_ABORT"));

    // "Alle Emails versenden" marks what the client took, without asking.
    client.error.clear();
    ov.asked.clear();
    const TMailBatchResult r = c->actAlleEmailsVersendenExecute(TOrderSelection::InOutbox({}));
    EXPECT_EQ(r.Orders, 3);
    EXPECT_EQ(r.Sent, 2);   // the first was sent already
    EXPECT_TRUE(ov.asked.empty());
    EXPECT_TRUE(c->Outbox().Count() == 0);
    EXPECT_EQ(client.mails.size(), 5u);
}

// ------------------------------------------------------------------ files, slips, invoice

TEST_F(OrdersTest, ShowsTheOrderFilesAndGoesToTheInvoice) {
    auto c = WithOrders(2);
    const Order o = Get(*c, 2);
    c->actBegleitzettelAnsehenExecute(TOrderSelection::InOutbox({2}));
    c->actAuftragsdateiAnzeigenExecute(TOrderSelection::InGrid(2));
    c->actNutzdatenAnzeigenExecute(TOrderSelection::InOutbox({2, 1}));
    ASSERT_EQ(ov.texts.size(), 3u);
    EXPECT_EQ(ov.texts[0].first, o.handle + ".BGL");
    EXPECT_EQ(ov.texts[0].second, ReadCp1252Text(Path("ArchivA/" + o.handle + ".BGL")));
    EXPECT_TRUE(Contains(ov.texts[0].second, "R-2"));
    EXPECT_EQ(ov.texts[1].first, o.handle + ".AUF.LOG");
    EXPECT_EQ(ov.texts[1].second, ReadCp1252Text(Path("ArchivA/" + o.handle + ".AUF.LOG")));
    EXPECT_EQ(ov.texts[2].first, o.handle);
    EXPECT_EQ(ov.texts[2].second, Cp1252ToUtf8(Archived(o.handle)));
    // No order, nothing shown.
    c->actBegleitzettelAnsehenExecute(TOrderSelection::InOutbox({}));
    c->actNutzdatenAnzeigenExecute(TOrderSelection::InGrid(77));
    EXPECT_EQ(ov.texts.size(), 3u);

    EXPECT_TRUE(c->actGeheZuRechnungExecute(TOrderSelection::InGrid(2)));
    EXPECT_EQ(ov.tabs.back(), MainTab::ArchivRechnung);
    EXPECT_EQ(c->RechStore()->GetTable().AsString("R_HANDLE"), o.handle);
    EXPECT_EQ(c->RechStore()->GetTable().AsString("R_NUMMER"), "R-2");
    EXPECT_FALSE(c->actGeheZuRechnungExecute(TOrderSelection::InOutbox({5})));
}

TEST_F(OrdersTest, SlipPrintingFiltersTheOrdersForTheReport) {
    auto c = WithOrders(3);
    EXPECT_EQ(c->OutboxIdList(), "'1','2','3'");

    // Without the report there is nothing to print with, and the user is told.
    c->actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), false);
    ASSERT_EQ(ov.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(ov.messages[0].text, "Begleitzettel können mit dieser Programmversion noch nicht"));

    FakeSlipReport report;
    c->SetSlipReport(&report);
    c->actEmailVersandtExecute(TOrderSelection::InOutbox({2}));
    c->RebuildOutbox();
    c->actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), false);
    c->actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), true);
    c->actBegleitzettelDruckenExecute(TOrderSelection::InOutbox({3, 1}));
    c->actBegleitzettelDruckenExecute(TOrderSelection::InGrid(2));          // preview of the current row
    c->actBegleitzettelDruckenExecute(TOrderSelection::InGrid(2, {2, 3}));  // each selected row printed
    ASSERT_EQ(report.runs.size(), 7u);
    const std::vector<std::pair<std::vector<int64_t>, bool>> expected = {
        {{1, 3}, false}, {{1, 3}, true}, {{3}, false}, {{1}, false}, {{2}, true}, {{2}, false}, {{3}, false}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report.runs[i].ids, expected[i].first) << i;
        EXPECT_EQ(report.runs[i].preview, expected[i].second) << i;
    }
    // The table is whole again afterwards.
    EXPECT_FALSE(c->AuftragStore()->GetTable().Filtered());
    EXPECT_EQ(c->AuftragStore()->GetTable().RecordCount(), 3);

    // The grid cannot print "all"; an empty outbox prints nothing.
    ov.messages.clear();
    c->actAlleBegleitzettelDruckenExecute(TOrderSelection::InGrid(1), false);
    EXPECT_EQ(ov.MessageTexts(), std::vector<std::string>{"Diese Funktion ist nur im Ausgangskorb verfügbar."});
    c->actAlleEmailsVersandtExecute(TOrderSelection::InOutbox({}));   // Cancel: nothing
    c->actEmailVersandtExecute(TOrderSelection::InOutbox({1, 3}));
    c->RebuildOutbox();
    EXPECT_EQ(c->OutboxIdList(), "");
    c->actAlleBegleitzettelDruckenExecute(TOrderSelection::InOutbox({}), false);
    EXPECT_EQ(report.runs.size(), 7u);
}

// ------------------------------------------------------------------ list filter

TEST(ListFilter, PassesRowsWhoseQuotedValueIsInTheList) {
    Table t({FieldDef::Int("A_ID")});
    for (int id : {1, 2, 12, 21}) {
        t.Append();
        t.SetInteger("A_ID", id);
        t.Post();
    }
    t.SetRecordFilter(TListFilter{"A_ID", "'12','2'"});
    t.SetFiltered(true);
    std::vector<int64_t> ids;
    for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.AsInteger("A_ID"));
    EXPECT_EQ(ids, (std::vector<int64_t>{2, 12}));   // not 1 nor 21, though their digits occur
}
