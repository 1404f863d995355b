#pragma once

// What the tests of the mailer and of the main window's order actions both
// expect of an order mail and of the mailer's status lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/SmtpTestServer.h"

// From, Sender and Reply-To each stand once and name the sender.
inline void ExpectSender(const ReceivedMail& m, const std::string& sender) {
    for (const char* h : {"From", "Sender", "Reply-To"}) {
        EXPECT_EQ(m.HeaderCount(h), 1) << h;
        EXPECT_EQ(m.Header(h), sender) << h;
    }
}

// The mailer's failure for a recipient the test server refuses.
inline std::string RefusedRecipientText(const std::string& address) {
    return "Email: Fehler beim Senden. Empfänger " + address + " abgelehnt: 550 5.1.1 <" + address +
           ">: Empfaenger unbekannt";
}

// The status lines ("sent/total text") of one session that sends three mails
// and has the second one's recipient refused.
inline std::vector<std::string> SecondOfThreeRefusedLines(const std::string& refusedAddress) {
    return {
        "0/0 Email: Verbinde zum Server ...",
        "0/0 Email: Verbindung zum Server.",
        "1/3 Email: wird gesendet... ",
        "1/3 Email: gesendet.",
        "2/3 Email: wird gesendet... ",
        "1/3 " + RefusedRecipientText(refusedAddress),
        "2/3 Email: wird gesendet... ",
        "2/3 Email: gesendet.",
        "2/3 Email: Verbindung wird getrennt ...",
        "2/3 Email: Verbindung getrennt.",
    };
}
