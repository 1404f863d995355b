#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mail/U_Email.h"

namespace brenvo {

// One SMTP session with a mail server.
//
// libcurl opens the session (CURLOPT_CONNECT_ONLY on an smtp:// or smtps://
// address): the TCP connection, TLS from the start (SMTPS) or after STARTTLS
// with the server's certificate checked (chain and name), the greeting, EHLO
// and the "LOGIN" authentication. The mail transactions then run here over
// curl_easy_send/curl_easy_recv, through libcurl's TLS when the session is
// encrypted. libcurl's own SMTP transfer cannot do what a batch of orders
// needs: it sends one message per transfer and, when the server refuses a
// recipient, gives up the whole connection, so the next order of the batch
// would open a new session. Here one session carries every message of a
// batch; a refused sender, recipient or message ends only that transaction
// (RSET) and the session goes on. A broken connection or a server that stops
// answering closes the session.
//
// With STARTTLS (the default) and a user name the password never crosses an
// unencrypted connection: a server that offers no STARTTLS is refused before
// the login. Without a user name such a server is talked to in plain text.
//
// The connection itself has the connect time limit; every network step after
// it (greeting, each step of the TLS handshake, each command's reply, sending
// the data) has its own time limit, so a server that accepts and then stops
// answering never blocks the program for longer than that.
//
// Failures are Error exceptions with a German text.
class SmtpSession {
public:
    SmtpSession();
    ~SmtpSession();   // drops an open connection without QUIT
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    void SetServer(const std::string& host, int port);
    // With a user name the session logs in with AUTH LOGIN after EHLO;
    // with an empty one it never logs in.
    void SetLogin(const std::string& user, const std::string& password);
    void SetStepTimeout(int milliseconds);
    // How the connection is secured, and a file of certificates trusted in
    // addition to the system's (PEM; "" for none).
    void SetSecurity(TMailTls tls, const std::string& caFile);

    // Connects (TCP within connectTimeoutMs), reads the greeting, says EHLO
    // (HELO when EHLO is refused), secures the connection as set and logs in
    // when a user name is set.
    void Open(int connectTimeoutMs);
    // True while the session is usable. Notices without waiting when the
    // server has closed the connection (for example after its idle time)
    // and then closes the session.
    bool IsOpen();
    // One message: MAIL FROM, RCPT TO for each recipient (all must be
    // accepted), DATA. The data is sent with CR LF line ends and dot-stuffed.
    void SendMail(const std::string& envelopeFrom, const std::vector<std::string>& recipients,
                  const std::string& data);
    // QUIT and close; the connection is closed even when QUIT fails (then
    // Error is raised afterwards). Does nothing when not open.
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The SMTP mailer the program sends orders with: a TKelmarMailer that keeps
// the user name and password it was created with and logs in with "LOGIN"
// when the user name is not empty.
class TSmtpEmail : public TKelmarMailer {
public:
    TSmtpEmail(const std::string& host, int port, const std::string& user,
               const std::string& password, int connectTimeoutMs);

    const std::string& UserName() const { return user_; }
    const std::string& Password() const { return password_; }

private:
    std::string user_;
    std::string password_;
};

} // namespace brenvo
