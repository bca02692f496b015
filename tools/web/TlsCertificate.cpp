#include "tools/web/TlsCertificate.h"

#include "platform/WholeFile.h"
#include "tools/web/WebPaths.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <arpa/inet.h>
#include <ctime>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace raduvuz::web {

namespace {

constexpr size_t kMaxPemBytes = 1 << 20;
// Browsers refuse a server certificate valid for longer.
constexpr time_t kValidDays = 825;
constexpr time_t kRenewDays = 30;

void Check(int result, const char* step) {
    if (result < 0)
        throw TSetupError(std::string("cannot make the certificate (") + step + ": " +
                          gnutls_strerror(result) + ")");
}

std::string Read(const std::string& path, const char* what) {
    std::string text;
    std::string error;
    if (!ReadWholeFile(path, text, kMaxPemBytes, &error))
        throw TSetupError(std::string("cannot read the ") + what + " " + path + ": " + error);
    return text;
}

// When the PEM certificate expires; 0 when it cannot be read.
time_t ExpiryOf(const std::string& pem) {
    gnutls_x509_crt_t certificate = nullptr;
    if (gnutls_x509_crt_init(&certificate) < 0)
        return 0;
    gnutls_datum_t data{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                        static_cast<unsigned>(pem.size())};
    time_t expiry = 0;
    if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_PEM) >= 0)
        expiry = gnutls_x509_crt_get_expiration_time(certificate);
    gnutls_x509_crt_deinit(certificate);
    return expiry == static_cast<time_t>(-1) ? 0 : expiry;
}

} // namespace

std::string Fingerprint(const std::string& pem) {
    gnutls_x509_crt_t certificate = nullptr;
    if (gnutls_x509_crt_init(&certificate) < 0)
        return {};
    gnutls_datum_t data{reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                        static_cast<unsigned>(pem.size())};
    unsigned char digest[32];
    size_t size = sizeof digest;
    std::string text;
    if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_PEM) >= 0 &&
        gnutls_x509_crt_get_fingerprint(certificate, GNUTLS_DIG_SHA256, digest, &size) >= 0) {
        static const char kHex[] = "0123456789ABCDEF";
        for (size_t i = 0; i < size; ++i) {
            text += i ? ":" : "";
            text += kHex[digest[i] >> 4];
            text += kHex[digest[i] & 15];
        }
    }
    gnutls_x509_crt_deinit(certificate);
    return text;
}

namespace {

struct TPair {
    std::string Certificate;
    std::string Key;
};

TPair MakeSelfSigned(const std::vector<std::string>& names) {
    gnutls_x509_privkey_t key = nullptr;
    gnutls_x509_crt_t certificate = nullptr;
    struct TFree {
        gnutls_x509_privkey_t& Key;
        gnutls_x509_crt_t& Certificate;
        ~TFree() {
            if (Certificate)
                gnutls_x509_crt_deinit(Certificate);
            if (Key)
                gnutls_x509_privkey_deinit(Key);
        }
    } free{key, certificate};
    Check(gnutls_x509_privkey_init(&key), "key");
    Check(gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA,
                                       GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0),
          "key");
    Check(gnutls_x509_crt_init(&certificate), "certificate");
    Check(gnutls_x509_crt_set_version(certificate, 3), "version");
    unsigned char serial[16];
    Check(gnutls_rnd(GNUTLS_RND_NONCE, serial, sizeof serial), "serial");
    serial[0] &= 0x7f;
    Check(gnutls_x509_crt_set_serial(certificate, serial, sizeof serial), "serial");
    const time_t now = std::time(nullptr);
    Check(gnutls_x509_crt_set_activation_time(certificate, now - 3600), "validity");
    Check(gnutls_x509_crt_set_expiration_time(certificate, now + kValidDays * 86400), "validity");
    const std::string& common = names.front();
    Check(gnutls_x509_crt_set_dn_by_oid(certificate, GNUTLS_OID_X520_COMMON_NAME, 0, common.data(),
                                        static_cast<unsigned>(common.size())),
          "name");
    static const char kOrganisation[] = "raduvuz-web (self-signed)";
    Check(gnutls_x509_crt_set_dn_by_oid(certificate, GNUTLS_OID_X520_ORGANIZATION_NAME, 0,
                                        kOrganisation, sizeof kOrganisation - 1),
          "name");
    for (const std::string& name : names) {
        unsigned char address[16];
        if (::inet_pton(AF_INET, name.c_str(), address) == 1)
            Check(gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS, address,
                                                       4, GNUTLS_FSAN_APPEND),
                  "address");
        else if (::inet_pton(AF_INET6, name.c_str(), address) == 1)
            Check(gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_IPADDRESS, address,
                                                       16, GNUTLS_FSAN_APPEND),
                  "address");
        else
            Check(gnutls_x509_crt_set_subject_alt_name(certificate, GNUTLS_SAN_DNSNAME, name.data(),
                                                       static_cast<unsigned>(name.size()),
                                                       GNUTLS_FSAN_APPEND),
                  "host name");
    }
    Check(gnutls_x509_crt_set_basic_constraints(certificate, 0, -1), "constraints");
    Check(gnutls_x509_crt_set_key_usage(certificate, GNUTLS_KEY_DIGITAL_SIGNATURE), "usage");
    Check(gnutls_x509_crt_set_key_purpose_oid(certificate, GNUTLS_KP_TLS_WWW_SERVER, 0), "usage");
    Check(gnutls_x509_crt_set_key(certificate, key), "key");
    unsigned char id[64];
    size_t idSize = sizeof id;
    Check(gnutls_x509_crt_get_key_id(certificate, GNUTLS_KEYID_USE_SHA1, id, &idSize), "key id");
    Check(gnutls_x509_crt_set_subject_key_id(certificate, id, idSize), "key id");
    Check(gnutls_x509_crt_sign2(certificate, certificate, key, GNUTLS_DIG_SHA256, 0), "signature");

    TPair pair;
    gnutls_datum_t out{};
    Check(gnutls_x509_crt_export2(certificate, GNUTLS_X509_FMT_PEM, &out), "export");
    pair.Certificate.assign(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    Check(gnutls_x509_privkey_export2_pkcs8(key, GNUTLS_X509_FMT_PEM, nullptr, GNUTLS_PKCS_PLAIN,
                                            &out),
          "export");
    pair.Key.assign(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    return pair;
}

void Write(const std::string& path, const std::string& text) {
    std::string error;
    if (!WriteWholeFile(path, text, &error))
        throw TSetupError("cannot write " + path + ": " + error);
}

} // namespace

std::vector<std::string> HostNames() {
    std::vector<std::string> names;
    std::set<std::string> seen;
    const auto add = [&](const std::string& name) {
        if (!name.empty() && seen.insert(name).second)
            names.push_back(name);
    };
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        add(host);
        const std::string full = host;
        add(full.substr(0, full.find('.')));
    }
    add("localhost");
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) == 0) {
        for (ifaddrs* at = interfaces; at; at = at->ifa_next) {
            if (!at->ifa_addr)
                continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (at->ifa_addr->sa_family == AF_INET) {
                ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(at->ifa_addr)->sin_addr, text,
                            sizeof text);
                add(text);
            } else if (at->ifa_addr->sa_family == AF_INET6) {
                const auto* address = reinterpret_cast<sockaddr_in6*>(at->ifa_addr);
                // A link-local address means nothing without its interface.
                if (IN6_IS_ADDR_LINKLOCAL(&address->sin6_addr))
                    continue;
                ::inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text);
                add(text);
            }
        }
        ::freeifaddrs(interfaces);
    }
    add("127.0.0.1");
    add("::1");
    return names;
}

TTlsMaterial LoadTlsMaterial(const std::string& folder, const std::string& certFile,
                             const std::string& keyFile) {
    TTlsMaterial material;
    if (!certFile.empty() || !keyFile.empty()) {
        if (certFile.empty() || keyFile.empty())
            throw TSetupError("--cert and --key go together");
        material.CertificateFile = certFile;
        material.KeyFile = keyFile;
        material.Certificate = Read(certFile, "certificate");
        material.Key = Read(keyFile, "key");
        return material;
    }
    material.CertificateFile = folder + "/cert.pem";
    material.KeyFile = folder + "/key.pem";
    struct stat info {};
    const bool have = ::stat(material.CertificateFile.c_str(), &info) == 0 &&
                      ::stat(material.KeyFile.c_str(), &info) == 0;
    if (have) {
        material.Certificate = Read(material.CertificateFile, "certificate");
        material.Key = Read(material.KeyFile, "key");
        const time_t expiry = ExpiryOf(material.Certificate);
        if (expiry > std::time(nullptr) + kRenewDays * 86400)
            return material;
        material.Note = "the self-signed certificate " + material.CertificateFile +
                        (expiry ? " expires within 30 days" : " cannot be read") +
                        ": made a new one; browsers will ask to accept it again";
    }
    const std::vector<std::string> names = HostNames();
    const TPair pair = MakeSelfSigned(names);
    // The key first: a certificate is never there without its key.
    Write(material.KeyFile, pair.Key);
    Write(material.CertificateFile, pair.Certificate);
    material.Certificate = pair.Certificate;
    material.Key = pair.Key;
    if (material.Note.empty()) {
        std::string list;
        for (const std::string& name : names)
            list += (list.empty() ? "" : ", ") + name;
        material.Note =
            "made a self-signed certificate " + material.CertificateFile + " for " + list;
    }
    return material;
}

} // namespace raduvuz::web
