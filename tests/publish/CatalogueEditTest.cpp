#include "publish/CatalogueEdit.h"

#include <functional>
#include <gtest/gtest.h>

namespace kestrel {
namespace {

CatalogueEdit TwoLinks()
{
    return {"http://school/", {{"语文", "古诗两首", "http://school/yuwen", "http://school/yuwen.bmp", ""},
                                  {"Maths", "", "https://school/maths", "", ""}}};
}

TEST(CatalogueEdit, AValidEditReadsBackAsItWasWritten)
{
    const CatalogueEdit edit = TwoLinks();
    ASSERT_EQ(CheckCatalogueEdit(edit), "");
    CatalogueEdit back;
    ASSERT_TRUE(ReadCatalogueEdit(CatalogueEditText(edit), back));
    EXPECT_EQ(back.home, edit.home);
    ASSERT_EQ(back.links.size(), 2u);
    EXPECT_EQ(back.links[0].name, "语文");
    EXPECT_EQ(back.links[0].caption, "古诗两首");
    EXPECT_EQ(back.links[0].picture, "http://school/yuwen.bmp");
    EXPECT_EQ(back.links[1].name, "Maths");
    EXPECT_EQ(back.links[1].url, "https://school/maths");
}

struct EditProblem {
    const char* what;
    std::function<void(CatalogueEdit&)> change;
    const char* named; // where the message points
    const char* says;  // what it says, in Chinese
    int link;          // the field it shows under
    const char* field;
};

class CatalogueEditProblems : public ::testing::TestWithParam<EditProblem> {};

TEST_P(CatalogueEditProblems, AreRefusedNamingTheLink)
{
    CatalogueEdit edit = TwoLinks();
    GetParam().change(edit);
    EditPlace place;
    const std::string problem = CheckCatalogueEdit(edit, &place);
    EXPECT_EQ(problem.rfind(GetParam().named, 0), 0u) << problem;
    EXPECT_NE(problem.find(GetParam().says), std::string::npos) << problem;
    EXPECT_EQ(place.link, GetParam().link);
    EXPECT_EQ(place.field, GetParam().field);
    for (const char* technical : {"字节", "GBK"})
        EXPECT_EQ(problem.find(technical), std::string::npos) << problem;
}

INSTANTIATE_TEST_SUITE_P(Rules, CatalogueEditProblems,
    ::testing::Values(
        EditProblem{"TwentyOneLinks", [](CatalogueEdit& e) {
            e.links.clear();
            for (int i = 0; i < 21; ++i)
                e.links.push_back({"link" + std::to_string(i), "", "http://school/", "", ""});
        }, "第 21 个链接", "工具栏最多放 20 个", 20, ""},
        EditProblem{"NameUsedTwiceInAnotherCase", [](CatalogueEdit& e) { e.links[0].name = "maths"; e.links[1].name = "MATHS"; }, "第 2 个链接", "名称“MATHS”重复了", 1, "name"},
        EditProblem{"NameHome", [](CatalogueEdit& e) { e.links[1].name = "HOME"; }, "第 2 个链接", "留给首页", 1, "name"},
        EditProblem{"EmptyName", [](CatalogueEdit& e) { e.links[0].name = ""; }, "第 1 个链接", "名称不能为空", 0, "name"},
        EditProblem{"BlankName", [](CatalogueEdit& e) { e.links[1].name = "  "; }, "第 2 个链接", "名称不能为空", 1, "name"},
        EditProblem{"ControlCharacter", [](CatalogueEdit& e) { e.links[1].caption = "bell\a"; }, "第 2 个链接", "说明不能含控制字符", 1, "caption"},
        EditProblem{"NotUtf8", [](CatalogueEdit& e) { e.links[0].url = "http://school/\xFF"; }, "第 1 个链接", "地址不是有效的文字", 0, "url"},
        EditProblem{"NameTooLongInGbk", [](CatalogueEdit& e) {
            e.links[1].name.clear();
            for (int i = 0; i < 64; ++i)
                e.links[1].name += "语"; // 128 bytes in GBK, one too many
        }, "第 2 个链接", "名称太长：最多 63 个汉字", 1, "name"},
        EditProblem{"CharacterWithoutGbkForm", [](CatalogueEdit& e) { e.links[0].caption = "笑😀"; }, "第 1 个链接", "说明中的“😀”学生的电脑无法显示", 0, "caption"},
        EditProblem{"JavascriptAddress", [](CatalogueEdit& e) { e.links[1].url = "javascript:alert(1)"; }, "第 2 个链接", "http://", 1, "url"},
        EditProblem{"FileHome", [](CatalogueEdit& e) { e.home = "file:///etc/passwd"; }, "首页", "http://", -1, "home"},
        EditProblem{"LineBreakInjectingASection", [](CatalogueEdit& e) { e.links[0].caption = "x\n[link]\nname = y"; }, "第 1 个链接", "不能换行", 0, ""},
        EditProblem{"LastLineAfterLinksWithCoolPictures", [](CatalogueEdit& e) {
            for (CatalogueEdit::Link& link : e.links)
                link.coolPicture = link.picture = "http://school/cool.bmp";
            e.links.push_back({"art", "", "", "http://school/a.bmp", "http://school/😀.bmp"});
        }, "第 3 个链接", "图片中的“😀”学生的电脑无法显示", 2, "coolPicture"},
        EditProblem{"NothingAtAll", [](CatalogueEdit& e) { e = CatalogueEdit(); }, "目录是空的", "首页或一个链接", -1, ""}),
    [](const ::testing::TestParamInfo<EditProblem>& info) { return std::string(info.param.what); });

} // namespace
} // namespace kestrel
