#include "publish/TlsCertificate.h"

#include "base/StateFolder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrel {
namespace {

constexpr long kTenYears = 10L * 365 * 24 * 3600;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// A new file only its owner may read, for the private key.
File CreatePrivate(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return File(fd >= 0 ? ::fdopen(fd, "w") : nullptr);
}

using Certificate = std::unique_ptr<X509, void (*)(X509*)>;

bool IsIpv4(const std::string& name)
{
    in_addr address;
    return inet_pton(AF_INET, name.c_str(), &address) == 1;
}

// What browsers may call the page: its host name, and the address it listens
// on, so that https://ADDRESS:PORT/ works without DNS. Listening on every
// address names none of them.
std::vector<std::string> NamesOf(const std::string& hostName, const std::string& address)
{
    std::vector<std::string> names{hostName};
    if (address != hostName && address != "0.0.0.0")
        names.push_back(address);
    return names;
}

bool AddNames(X509* certificate, const std::vector<std::string>& names)
{
    std::string alternatives;
    for (const std::string& name : names)
        alternatives += (alternatives.empty() ? "" : ",") + std::string(IsIpv4(name) ? "IP:" : "DNS:") + name;
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternatives.c_str());
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    X509_NAME* name = X509_get_subject_name(certificate);
    const std::string common = names.front().substr(0, 64);
    return added
        && X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
               reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0) == 1
        && X509_set_issuer_name(certificate, name) == 1;
}

Certificate ReadCertificate(const std::string& path)
{
    const File file(std::fopen(path.c_str(), "re"));
    return Certificate(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, X509_free);
}

// A kept certificate serves on while it names every name; a new host name or
// address needs a new one, as browsers would refuse the old.
bool NamesAll(const std::string& path, const std::vector<std::string>& names)
{
    const Certificate certificate = ReadCertificate(path);
    for (const std::string& name : names) {
        if (!certificate
            || (IsIpv4(name) ? X509_check_ip_asc(certificate.get(), name.c_str(), 0)
                             : X509_check_host(certificate.get(), name.c_str(), name.size(), 0, nullptr))
                != 1)
            return false;
    }
    return true;
}

} // namespace

std::string EnsureCertificate(const std::string& folder, const std::string& hostName, const std::string& address,
    std::string& certificatePath, std::string& keyPath)
{
    certificatePath = folder + "/publish.crt";
    keyPath = folder + "/publish.key";
    const std::vector<std::string> names = NamesOf(hostName, address);
    struct stat status;
    if (::stat(keyPath.c_str(), &status) == 0 && NamesAll(certificatePath, names))
        return "";
    if (const int error = MakeFolders(folder))
        return "cannot make " + folder + ": " + std::strerror(error);

    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    const Certificate certificate(X509_new(), X509_free);
    unsigned char serial[16];
    if (!key || !certificate || RAND_bytes(serial, sizeof serial) != 1)
        return "cannot make a key for the HTTPS certificate";
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool made = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()))
        && X509_set_version(certificate.get(), 2) == 1
        && X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600)
        && X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kTenYears)
        && X509_set_pubkey(certificate.get(), key.get()) == 1 && AddNames(certificate.get(), names)
        && X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    BN_free(number);
    if (!made)
        return "cannot make the HTTPS certificate for \"" + hostName + "\"";

    const File keyFile = CreatePrivate(keyPath);
    if (!keyFile || PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return "cannot write " + keyPath;
    const File certificateFile(std::fopen(certificatePath.c_str(), "we"));
    if (!certificateFile || PEM_write_X509(certificateFile.get(), certificate.get()) != 1)
        return "cannot write " + certificatePath;
    return "";
}

std::string CertificateFingerprint(const std::string& path)
{
    const Certificate certificate = ReadCertificate(path);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!certificate || X509_digest(certificate.get(), EVP_sha256(), digest, &length) != 1)
        return "";
    std::string text;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

} // namespace kestrel
