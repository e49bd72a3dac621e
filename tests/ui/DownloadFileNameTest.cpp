#include "ui/DownloadFileName.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>
#include <string>

namespace kestrel {
namespace {

struct NameCase {
    std::string name;
    DownloadRefusal verdict;
};

class DownloadNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DownloadNameTest, OnlyPlainNamesOfHarmlessKindsAreSaved)
{
    EXPECT_EQ(CheckDownloadName(GetParam().name), GetParam().verdict) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DownloadNameTest,
    ::testing::Values(NameCase{"worksheet.pdf", DownloadRefusal::kSaved},
                      NameCase{"作业 第3课.docx", DownloadRefusal::kSaved},
                      NameCase{"lesson.zip", DownloadRefusal::kSaved},
                      NameCase{"README", DownloadRefusal::kSaved},
                      NameCase{"shell.sh.txt", DownloadRefusal::kSaved},
                      NameCase{"", DownloadRefusal::kNoName},
                      NameCase{".", DownloadRefusal::kNoName},
                      NameCase{"..", DownloadRefusal::kNoName},
                      NameCase{"../notes.txt", DownloadRefusal::kPathParts},
                      NameCase{"/etc/passwd", DownloadRefusal::kPathParts},
                      NameCase{"a\\b.txt", DownloadRefusal::kPathParts},
                      NameCase{"line\nbreak.txt", DownloadRefusal::kPathParts},
                      NameCase{"game.desktop", DownloadRefusal::kRefusedKind},
                      NameCase{"install.sh", DownloadRefusal::kRefusedKind},
                      NameCase{"tool.deb", DownloadRefusal::kRefusedKind},
                      NameCase{"Viewer.AppImage", DownloadRefusal::kRefusedKind},
                      NameCase{"SETUP.EXE", DownloadRefusal::kRefusedKind},
                      NameCase{"setup.exe.", DownloadRefusal::kRefusedKind},
                      NameCase{"run.bat ", DownloadRefusal::kRefusedKind},
                      NameCase{"app.jar", DownloadRefusal::kRefusedKind}));

TEST(UniqueDownloadNameTest, TakenNamesAreNumberedBeforeTheEnding)
{
    std::set<std::string> taken;
    const auto isTaken = [&taken](const std::string& name) { return taken.count(name) != 0; };
    std::vector<std::string> given;
    for (int i = 0; i < 3; ++i) {
        given.push_back(UniqueDownloadName("notes.txt", isTaken));
        taken.insert(given.back());
    }
    EXPECT_EQ(given, (std::vector<std::string>{"notes.txt", "notes (2).txt", "notes (3).txt"}));
    taken = {"README", ".profile"};
    EXPECT_EQ(UniqueDownloadName("README", isTaken), "README (2)");
    EXPECT_EQ(UniqueDownloadName(".profile", isTaken), ".profile (2)");
}

TEST(UniqueDownloadNameTest, GivesUpWhenEveryNumberIsTaken)
{
    EXPECT_EQ(UniqueDownloadName("notes.txt", [](const std::string&) { return true; }), "");
}

} // namespace
} // namespace kestrel
