#include "net/CertificateTrust.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace kestrel {
namespace {

class CertificateTrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char folder[] = "/tmp/kestrel-certificates-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        s_folder = folder;
        s_certificates = std::make_unique<TestCertificates>(s_folder);
    }
    static void TearDownTestSuite()
    {
        s_certificates.reset();
        std::system(("rm -rf '" + s_folder + "'").c_str());
    }
    void SetUp() override { ASSERT_TRUE(s_certificates->made) << "the openssl tool made no certificates"; }

    static std::string s_folder;
    static std::unique_ptr<TestCertificates> s_certificates;
};

std::string CertificateTrustTest::s_folder;
std::unique_ptr<TestCertificates> CertificateTrustTest::s_certificates;

TEST_F(CertificateTrustTest, AChainFromTheSchoolsAuthorityIsTrustedForItsHostOnly)
{
    const std::string bundle = s_certificates->Path("ca.pem");
    const std::vector<std::string> chain = {s_certificates->Bytes("server.der")};
    EXPECT_TRUE(ChainIsTrusted(chain, "127.0.0.1", bundle));
    EXPECT_TRUE(ChainIsTrusted(chain, "localhost", bundle));
    EXPECT_FALSE(ChainIsTrusted(chain, "www.example.org", bundle));
    EXPECT_FALSE(ChainIsTrusted(chain, "", bundle));
}

TEST_F(CertificateTrustTest, ACertificateOfTheSchoolsAuthorityForClientsOnlyIsNoWebSite)
{
    EXPECT_FALSE(ChainIsTrusted({s_certificates->Bytes("client.der")}, "127.0.0.1", s_certificates->Path("ca.pem")));
}

TEST_F(CertificateTrustTest, AnUnknownAuthorityABadBundleOrABrokenChainTrustNothing)
{
    const std::string bundle = s_certificates->Path("ca.pem");
    EXPECT_FALSE(ChainIsTrusted({s_certificates->Bytes("other.der")}, "127.0.0.1", bundle));
    EXPECT_FALSE(ChainIsTrusted({s_certificates->Bytes("server.der")}, "127.0.0.1", s_certificates->Path("missing.pem")));
    EXPECT_FALSE(ChainIsTrusted({s_certificates->Bytes("server.der")}, "127.0.0.1", s_certificates->Path("server.key")));
    EXPECT_FALSE(ChainIsTrusted({}, "127.0.0.1", bundle));
    EXPECT_FALSE(ChainIsTrusted({"not a certificate"}, "127.0.0.1", bundle));
    EXPECT_FALSE(ChainIsTrusted({s_certificates->Bytes("server.der"), "junk"}, "127.0.0.1", bundle));
}

} // namespace
} // namespace kestrel
