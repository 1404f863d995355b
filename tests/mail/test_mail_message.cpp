// The message text and the settings helpers, without a server.

#include <gtest/gtest.h>

#include "lib/base/Error.h"
#include "lib/base/Strings.h"
#include "mail/U_Email.h"

using namespace brenvo;

namespace {

MailContent Basic() {
    MailContent c;
    c.sender = "absender@example.org";
    c.recipient = "annahme@example.com";
    c.date = EncodeDateTime(2014, 1, 5, 9, 0, 0);
    c.subject = "123456789";
    c.body = kOrderMailBody;
    return c;
}

std::string HeaderPart(const MailMessage& m) { return m.data.substr(0, m.data.find("\r\n\r\n") + 2); }

std::string ErrorOf(const MailContent& c) {
    try {
        BuildMailMessage(c);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(MailMessage, AddressesThatCannotBeUsedAreRefused) {
    MailContent c = Basic();
    c.recipient = "?importiert";
    EXPECT_EQ(ErrorOf(c), "Ungültige Empfängeradresse: \"?importiert\"");
    c.recipient = "*** keine Email ***";
    EXPECT_EQ(ErrorOf(c), "Ungültige Empfängeradresse: \"*** keine Email ***\"");
    c.recipient = "a@b.de\r\nBcc: heimlich@example.org";
    EXPECT_NE(ErrorOf(c), "");
    c.recipient = " ";
    EXPECT_EQ(ErrorOf(c), "Keine Empfängeradresse angegeben.");
    c = Basic();
    c.sender = "";
    EXPECT_EQ(ErrorOf(c), "Keine Absenderadresse angegeben.");
    c.sender = "a@example.org, b@example.org";
    EXPECT_EQ(ErrorOf(c), "Ungültige Absenderadresse: \"a@example.org, b@example.org\"");
    c = Basic();
    c.bcc = "kopie";
    EXPECT_EQ(ErrorOf(c), "Ungültige Bcc-Adresse: \"kopie\"");
}

TEST(MailMessage, AddressListsGoToTheEnvelopeAndOnlyToAndFromToTheHeader) {
    MailContent c = Basic();
    c.sender = "\"Fahrdienst \\\"Blitz\\\", Köln\" <absender@example.org>";
    c.recipient = "eins@example.com; \"Meier, Hans\" <zwei@example.com>";
    c.bcc = "kopie@example.org, zweite.kopie@example.org";
    MailMessage m = BuildMailMessage(c);
    EXPECT_EQ(m.envelopeFrom, "absender@example.org");
    EXPECT_EQ(m.recipients, (std::vector<std::string>{"eins@example.com", "zwei@example.com", "kopie@example.org",
                                                      "zweite.kopie@example.org"}));
    const std::string h = HeaderPart(m);
    EXPECT_TRUE(Contains(h, "To: eins@example.com, \"Meier, Hans\" <zwei@example.com>\r\n")) << h;
    EXPECT_TRUE(Contains(h, "From: =?UTF-8?B?")) << h;
    EXPECT_FALSE(Contains(m.data, "kopie"));
    EXPECT_EQ(EnvelopeAddress(" Name <a@b.de> "), "a@b.de");
}

TEST(MailMessage, HeaderTextCannotStartANewHeaderLine) {
    MailContent c = Basic();
    c.subject = "123456789\r\nBcc: heimlich@example.org";
    const std::string h = HeaderPart(BuildMailMessage(c));
    EXPECT_FALSE(Contains(h, "\nBcc:")) << h;
    EXPECT_TRUE(Contains(h, "Subject: 123456789  Bcc: heimlich@example.org\r\n")) << h;
    // A text that only looks like an encoded word is encoded, not taken as one.
    c.subject = "=?UTF-8?B?SGFsbG8=?=";
    EXPECT_FALSE(Contains(HeaderPart(BuildMailMessage(c)), "Subject: =?UTF-8?B?SGFsbG8=?=\r\n"));
}

TEST(MailMessage, DateCarriesTheLocalOffset) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    EXPECT_EQ(FormatMailDate(EncodeDateTime(2014, 1, 5, 9, 0, 0)), "Sun, 5 Jan 2014 09:00:00 +0100");
    EXPECT_EQ(FormatMailDate(EncodeDateTime(2014, 7, 31, 23, 59, 59)), "Thu, 31 Jul 2014 23:59:59 +0200");
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    EXPECT_EQ(FormatMailDate(EncodeDateTime(2014, 1, 5, 9, 0, 0)), "Sun, 5 Jan 2014 09:00:00 -0330");
    unsetenv("TZ");
    tzset();
}

TEST(MailMessage, PortSettingThatIsNoNumberGivesZero) {
    EXPECT_EQ(MailPortFromSetting("25"), 25);
    EXPECT_EQ(MailPortFromSetting("smtp"), 0);
    EXPECT_EQ(MailPortFromSetting(""), 0);
    EXPECT_EQ(MailPortFromSetting(" 25"), 0);
    EXPECT_EQ(MailPortFromSetting("99999999999"), 0);
}
