#pragma once

// The certificate and key raduvuz-web serves HTTPS with: the files given, or a self-signed
// certificate for the host's names and addresses, made at the first start in the web folder
// (cert.pem and key.pem, 0600) with GnuTLS and reused; made again when it expires within 30 days.

#include <string>
#include <vector>

namespace raduvuz::web {

struct TTlsMaterial {
    // PEM texts.
    std::string Certificate;
    std::string Key;
    // Where the key came from, for the permission check and the log.
    std::string KeyFile;
    std::string CertificateFile;
    // What was done: "made a self-signed certificate ..." or empty.
    std::string Note;
};

// With certFile and keyFile empty, the web folder's pair, made when missing. Throws TSetupError
// naming the file and why.
TTlsMaterial LoadTlsMaterial(const std::string& folder, const std::string& certFile,
                             const std::string& keyFile);

// The SHA-256 fingerprint of a PEM certificate as the browsers show it ("AB:CD:..."); empty when
// it cannot be read.
std::string Fingerprint(const std::string& pem);

// The names and addresses a self-made certificate is made for.
std::vector<std::string> HostNames();

} // namespace raduvuz::web
