#include "publish/PublishServer.h"
#include "publish/TlsCertificate.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

TEST(TlsCertificate, IsMadeOnceWithAPrivateKeyAndKeepsItsFingerprint)
{
    test::TemporaryFolder folder;
    std::string certificate;
    std::string key;
    ASSERT_EQ(EnsureCertificate(folder.Path(), "announcer.school.lan", certificate, key), "");
    const std::string fingerprint = CertificateFingerprint(certificate);
    EXPECT_EQ(fingerprint.size(), 32u * 3 - 1) << fingerprint;
    struct stat status;
    ASSERT_EQ(::stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);
    ASSERT_EQ(EnsureCertificate(folder.Path(), "announcer.school.lan", certificate, key), "");
    EXPECT_EQ(CertificateFingerprint(certificate), fingerprint);
    EXPECT_EQ(CertificateFingerprint(folder.Path() + "/none.pem"), "");
}

TEST(TlsCertificate, ThePageServesOverHttpsWithASecureCookie)
{
    test::TemporaryFolder folder;
    std::string certificate;
    std::string key;
    ASSERT_EQ(EnsureCertificate(folder.Path(), "127.0.0.1", certificate, key), "");
    PublishOptions options;
    options.port = 20000 + (::getpid() + 7) % 20000;
    options.hostName = options.address;
    CPublishStore store(folder.Path() + "/state", "");
    ASSERT_EQ(store.Open(), "");
    CTeacherAccounts accounts(folder.Path() + "/users");
    CPublishServer server(options, store, accounts);
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
