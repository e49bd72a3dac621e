#include "publish/PublishServer.h"
#include "publish/TlsCertificate.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

TEST(TlsCertificate, IsMadeOnceWithAPrivateKeyAndKeptWhileItNamesTheHostAndAddress)
{
    test::TemporaryFolder folder;
    const std::string keys = folder.Path() + "/keys";
    std::string certificate;
    std::string key;
    ASSERT_EQ(EnsureCertificate(keys, "announcer.school.lan", "192.168.1.10", certificate, key), "");
    const std::string fingerprint = CertificateFingerprint(certificate);
    EXPECT_EQ(fingerprint.size(), 32u * 3 - 1) << fingerprint;
    EXPECT_EQ(certificate.rfind(keys + "/", 0), 0u);
    struct stat status;
    ASSERT_EQ(::stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);
    ASSERT_EQ(EnsureCertificate(keys, "announcer.school.lan", "192.168.1.10", certificate, key), "");
    EXPECT_EQ(CertificateFingerprint(certificate), fingerprint);
    ASSERT_EQ(EnsureCertificate(keys, "publish.school.lan", "192.168.1.10", certificate, key), "");
    EXPECT_NE(CertificateFingerprint(certificate), fingerprint) << "a new host name needs a new certificate";
    EXPECT_EQ(CertificateFingerprint(folder.Path() + "/none.pem"), "");
}

// The certificate names the address too, so a browser reaches the page by
// its address, without DNS.
TEST(TlsCertificate, ThePageServesOverHttpsByItsAddressWithASecureCookie)
{
    test::TemporaryFolder folder;
    std::string certificate;
    std::string key;
    ASSERT_EQ(EnsureCertificate(folder.Path(), "publish.school.lan", "127.0.0.1", certificate, key), "");
    PublishOptions options;
    options.port = 20000 + (::getpid() + 7) % 20000;
    options.hostName = "publish.school.lan";
    CPublishStore store(folder.Path() + "/state", "");
    ASSERT_EQ(store.Open(), "");
    CTeacherAccounts accounts(folder.Path() + "/users");
    const CPublishRooms rooms(store, "");
    CPublishServer server(options, rooms, accounts);
    std::string error;
    ASSERT_TRUE(server.Start(certificate, key, error)) << error;

    httplib::SSLClient client("127.0.0.1", options.port);
    client.set_ca_cert_path(certificate.c_str());
    client.enable_server_certificate_verification(true);
    const httplib::Result state = client.Get("/api/state");
    ASSERT_TRUE(state) << httplib::to_string(state.error());
    EXPECT_EQ(state->status, 200);

    httplib::Client plain("127.0.0.1", options.port);
    plain.set_connection_timeout(2);
    plain.set_read_timeout(2);
    const httplib::Result refused = plain.Get("/api/state");
    EXPECT_TRUE(!refused || refused->status != 200);
}

} // namespace
} // namespace kestrel
