#include "publish/TeacherAccounts.h"

#include "base/WholeFile.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>

namespace kestrel {
namespace {

class TeacherAccountsTest : public ::testing::Test {
protected:
    test::TemporaryFolder m_folder;
    std::string m_path = m_folder.Path() + "/publish-users";
    CTeacherAccounts m_accounts{m_path};
};

TEST_F(TeacherAccountsTest, KeepsOnlyAnArgon2idHashInAPrivateFile)
{
    ASSERT_EQ(m_accounts.SetPassword("anna", "correct horse"), "");
    std::string text;
    ASSERT_EQ(ReadWholeFile(m_path, 4096, text).state, WholeFileRead::State::Loaded);
    EXPECT_EQ(text.rfind("anna:$argon2id$", 0), 0u) << text;
    EXPECT_EQ(text.find("correct horse"), std::string::npos);
    struct stat status;
    ASSERT_EQ(::stat(m_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST_F(TeacherAccountsTest, VerifiesThePasswordOfEachTeacherAlone)
{
    ASSERT_EQ(m_accounts.SetPassword("anna", "correct horse"), "");
    ASSERT_EQ(m_accounts.SetPassword("bo.li", "battery staple"), "");
    ASSERT_EQ(m_accounts.SetPassword("ann", "ann's password"), "");
    EXPECT_TRUE(m_accounts.Verify("anna", "correct horse"));
    EXPECT_TRUE(m_accounts.Verify("bo.li", "battery staple"));
    EXPECT_TRUE(m_accounts.Verify("ann", "ann's password"));
    EXPECT_FALSE(m_accounts.Verify("anna", "battery staple"));
    EXPECT_FALSE(m_accounts.Verify("anna", ""));
    EXPECT_FALSE(m_accounts.Verify("carl", "correct horse"));
    EXPECT_FALSE(m_accounts.Verify("ann", "correct horse"));
}

TEST_F(TeacherAccountsTest, ANewPasswordReplacesTheOldAndRemovalEndsSignIn)
{
    ASSERT_EQ(m_accounts.SetPassword("ann", "ann's password"), "");
    ASSERT_EQ(m_accounts.SetPassword("anna", "correct horse"), "");
    ASSERT_EQ(m_accounts.SetPassword("anna", "new password"), "");
    EXPECT_FALSE(m_accounts.Verify("anna", "correct horse"));
    EXPECT_TRUE(m_accounts.Verify("anna", "new password"));
    EXPECT_EQ(m_accounts.Remove("anna"), "");
    EXPECT_FALSE(m_accounts.Verify("anna", "new password"));
    EXPECT_NE(m_accounts.Remove("anna"), "");
    EXPECT_TRUE(m_accounts.Verify("ann", "ann's password")) << "a name's prefix is another teacher";
}

TEST_F(TeacherAccountsTest, RefusesNamesAndPasswordsThatCannotBeKeptSafely)
{
    for (const char* name : {"", "Anna", "-anna", "an:na", "an na", "../etc", "a23456789012345678901234567890123"})
        EXPECT_NE(m_accounts.SetPassword(name, "correct horse"), "") << name;
    EXPECT_NE(m_accounts.SetPassword("anna", "short"), "");
    EXPECT_EQ(m_accounts.SetPassword("anna", "12345678"), "");
}

// An admin's "*", a list of ids, and the line from before rooms, which
// controls every room but is no admin's; the password and the rooms
// change apart.
TEST_F(TeacherAccountsTest, EachTeacherControlsTheRoomsTheirLineLists)
{
    ASSERT_EQ(m_accounts.SetPassword("anna", "correct horse"), "");
    // The rooms given (none: the old line), then: admin, controls r302, controls r304.
    const std::tuple<const char*, bool, bool, bool> cases[] = {
        {nullptr, false, true, true}, {"*", true, true, true}, {"r302,r303", false, true, false}};
    for (const auto& [given, admin, r302, r304] : cases) {
        EXPECT_EQ(given ? m_accounts.SetRooms("anna", given) : "", "");
        const TeacherRooms rooms = m_accounts.RoomsOf("anna");
        EXPECT_EQ(std::tuple(rooms.admin, rooms.Controls("r302"), rooms.Controls("r304")), std::tuple(admin, r302, r304));
    }
    EXPECT_TRUE(m_accounts.Verify("anna", "correct horse")) << "new rooms keep the password";
    ASSERT_EQ(m_accounts.SetPassword("anna", "new password"), "");
    EXPECT_EQ(m_accounts.RoomsOf("anna").Text(), "r302,r303") << "a new password keeps the rooms";
    for (const char* wrong : {"", "R302", "r302,", ",r302", "r302 r303", "*,r302"})
        EXPECT_NE(m_accounts.SetRooms("anna", wrong), "") << wrong;
    EXPECT_TRUE(!m_accounts.SetRooms("carl", "r302").empty() && !m_accounts.RoomsOf("carl").Controls("r302"));
    EXPECT_EQ(m_accounts.RoomsOf("anna").Text(), "r302,r303");
}

} // namespace
} // namespace kestrel
