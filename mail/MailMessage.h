#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "lib/base/DateTime.h"

namespace brenvo {

// One file to attach: the path it is read from and the name the recipient
// sees (the file's own name when left empty).
struct MailAttachment {
    std::string path;
    std::string name;
};

// What a mail says, in plain texts. Address fields take one address
// ("info@example.org") or one with a display name ("Fahrdienst Müller
// <info@example.org>"); To and Bcc also take several, separated by "," or ";".
struct MailContent {
    std::string sender;       // written as From, Sender and Reply-To
    std::string recipient;    // To
    std::string bcc;          // blind copy; none when blank
    TDateTime date;           // Date, local time of this machine
    std::string subject;
    std::string body;         // plain text, UTF-8
    std::vector<MailAttachment> attachments;   // in this order, each only if its file exists
};

// What goes to the SMTP server: the envelope and the complete message text
// (header and body, CR LF line ends, not yet dot-stuffed).
struct MailMessage {
    std::string envelopeFrom;
    std::vector<std::string> recipients;   // To first, then Bcc
    std::string data;
};

// Builds the MIME message: multipart/mixed with the body as quoted-printable
// UTF-8 text and each existing attachment as base64 with the disposition
// "attachment". Header texts that are not plain ASCII are written as RFC 2047
// encoded words, attachment names that are not plain ASCII as RFC 2231
// parameters. Bcc addresses go into the envelope only, never into the header.
// Throws Error for an address that cannot be used and for an attachment that
// exists but cannot be read.
MailMessage BuildMailMessage(const MailContent& content);

// One address as it goes into the envelope: the bare address of an entry
// such as "Name <a@b.de>". Throws Error when it is no usable address.
std::string EnvelopeAddress(std::string_view entry);

// True for an address the program sends to: printable ASCII without blanks
// and without the characters that separate or enclose addresses, with text
// on both sides of one "@".
bool IsValidMailAddress(std::string_view address);

std::string Base64Encode(std::string_view bytes);

// The RFC 5322 form of a local time with this machine's offset from UTC
// at that moment: "Wed, 15 Oct 2014 14:05:03 +0200".
std::string FormatMailDate(TDateTime localTime);

} // namespace brenvo
