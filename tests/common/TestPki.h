#pragma once

// Certificates and keys made by the tests with the openssl program, in a
// directory of the test's choice.

#include <sys/wait.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "lib/base/Files.h"
#include "lib/base/Strings.h"

namespace testpki {

inline std::string Quote(const std::string& s) { return "'" + brenvo::ReplaceAll(s, "'", "'\\''") + "'"; }

// Runs the openssl program with the arguments; its output goes to a file
// beside the others. Throws with that output when it fails.
inline void Openssl(const std::string& dir, const std::vector<std::string>& args) {
    std::string cmd = "openssl";
    for (const auto& a : args) cmd += " " + Quote(a);
    const std::string log = dir + "/openssl.log";
    cmd += " >" + Quote(log) + " 2>&1 </dev/null";
    const int status = std::system(cmd.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(cmd + "\n" + brenvo::ReadFileBytes(log));
}

// A certificate and its private key, both PEM files.
struct CertKey {
    std::string cert, key;
};

// Key parameters of `openssl req -newkey`: a small EC key for TLS, RSA where
// the test needs it.
inline const std::vector<std::string> kEcKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"};

// A self-signed CA certificate named `name` (files name.pem, name.key).
inline CertKey MakeRootCa(const std::string& dir, const std::string& name, const std::string& subject,
                          const std::vector<std::string>& keyArgs = kEcKey) {
    CertKey ca{dir + "/" + name + ".pem", dir + "/" + name + ".key"};
    std::vector<std::string> args = {"req", "-x509", "-nodes", "-days", "3", "-subj", subject,
                                     "-keyout", ca.key, "-out", ca.cert,
                                     "-addext", "basicConstraints=critical,CA:TRUE",
                                     "-addext", "keyUsage=critical,keyCertSign,cRLSign"};
    args.insert(args.begin() + 2, keyArgs.begin(), keyArgs.end());
    Openssl(dir, args);
    return ca;
}

// A certificate signed by `issuer`, with the extensions given as lines of an
// openssl extension file (for example "subjectAltName=IP:127.0.0.1"), valid
// from now for `days` days.
inline CertKey MakeCert(const std::string& dir, const std::string& name, const CertKey& issuer,
                        const std::string& subject, const std::vector<std::string>& extensions,
                        const std::vector<std::string>& keyArgs = kEcKey, int days = 3) {
    CertKey c{dir + "/" + name + ".pem", dir + "/" + name + ".key"};
    const std::string csr = dir + "/" + name + ".csr", ext = dir + "/" + name + ".ext";
    std::vector<std::string> req = {"req", "-new", "-nodes", "-subj", subject, "-keyout", c.key, "-out", csr};
    req.insert(req.begin() + 2, keyArgs.begin(), keyArgs.end());
    Openssl(dir, req);
    brenvo::AtomicWriteFile(ext, brenvo::Join(extensions, "\n") + "\n");
    static int serial = 1000;
    Openssl(dir, {"x509", "-req", "-in", csr, "-CA", issuer.cert, "-CAkey", issuer.key, "-set_serial",
                  std::to_string(++serial), "-days", std::to_string(days), "-extfile", ext, "-out", c.cert});
    return c;
}

// A TLS server's certificate for the names (subjectAltName entries such as
// "IP:127.0.0.1" or "DNS:mail.example.org").
inline CertKey MakeServerCert(const std::string& dir, const std::string& name, const CertKey& ca,
                              const std::string& san) {
    return MakeCert(dir, name, ca, "/CN=" + name,
                    {"basicConstraints=critical,CA:FALSE", "keyUsage=critical,digitalSignature",
                     "extendedKeyUsage=serverAuth", "subjectAltName=" + san});
}

} // namespace testpki
