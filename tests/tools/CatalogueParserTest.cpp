#include "tools/CatalogueParser.h"

#include "base/GbkText.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrel {
namespace {

class CatalogueParserTest : public ::testing::Test {
protected:
    bool Parse(const std::string& text) { return m_parser.Parse(text, m_records, m_problem); }

    // The parse fails on `line` with a message holding `words`.
    void ExpectRefused(const std::string& text, int line, const std::string& words)
    {
        EXPECT_FALSE(Parse(text));
        EXPECT_EQ(m_problem.line, line) << Text();
        EXPECT_NE(Text().find(words), std::string::npos) << Text();
    }

    std::string Text() const { return CatalogueProblemText(m_problem); }

    static std::string Link(const std::string& name) { return "[link]\nname = " + name + "\n"; }

    CCatalogueParser m_parser;
    AnnouncedRecords m_records;
    CatalogueProblem m_problem;
};

TEST_F(CatalogueParserTest, HomeAndLinksBecomeGbkRecordsInFileOrder)
{
    ASSERT_TRUE(Parse("# school links\n"
                      "[home]\n"
                      "url = http://school/index.html\n"
                      "\n"
                      "[link]\n"
                      "name = 语文\n"
                      "caption = 语文：古诗\n"
                      "url = http://school/yuwen.html\n"
                      "picture = http://school/yuwen-hot.bmp\n"
                      "cool-picture = http://school/yuwen-cool.bmp\n"
                      "; second link\n"
                      "[link]\n"
                      "name = Maths\n"))
        << Text();
    ASSERT_EQ(m_records.count, 3);

    const LinkRecord& home = m_records.records[0];
    EXPECT_TRUE(IsHomeRecord(home));
    EXPECT_EQ(FieldText(home.url), "http://school/index.html");

    const LinkRecord& yuwen = m_records.records[1];
    std::string gbkName;
    ASSERT_TRUE(Utf8ToGbk("语文", gbkName));
    EXPECT_EQ(FieldText(yuwen.name), gbkName);
    EXPECT_EQ(GbkToUtf8(FieldText(yuwen.caption)), "语文：古诗");
    EXPECT_EQ(FieldText(yuwen.url), "http://school/yuwen.html");
    EXPECT_EQ(FieldText(yuwen.hotPicture), "http://school/yuwen-hot.bmp");
    EXPECT_EQ(FieldText(yuwen.coolPicture), "http://school/yuwen-cool.bmp");
    EXPECT_EQ(yuwen.reserved, 0);

    EXPECT_EQ(FieldText(m_records.records[2].name), "Maths");
    EXPECT_EQ(FieldText(m_records.records[2].caption), "");
}

TEST_F(CatalogueParserTest, ToleratesWindowsEditorsAndLetterCase)
{
    ASSERT_TRUE(Parse("\xEF\xBB\xBF[HOME]\r\n  URL =  http://a/  \r\n[Link]\r\nName=x\r\n")) << Text();
    ASSERT_EQ(m_records.count, 2);
    EXPECT_EQ(FieldText(m_records.records[0].url), "http://a/");
    EXPECT_EQ(FieldText(m_records.records[1].name), "x");
}

TEST_F(CatalogueParserTest, LongestTextsFitTheirFields)
{
    // 63 Chinese characters and one letter: 127 bytes in GBK.
    std::string name;
    for (int i = 0; i < 63; ++i)
        name += "中";
    ASSERT_TRUE(Parse(Link(name + "a") + "caption = " + std::string(255, 'c') + "\n")) << Text();
    EXPECT_EQ(FieldText(m_records.records[0].name).size(), 127u);
    EXPECT_EQ(FieldText(m_records.records[0].caption).size(), 255u);
}

TEST_F(CatalogueParserTest, TextTooLongInGbkNamesItsLine)
{
    std::string name;
    for (int i = 0; i < 64; ++i)
        name += "中";
    ExpectRefused(Link(name), 2, "name is 128 bytes in GBK; at most 127 fit");
    ExpectRefused("[home]\nurl = http://" + std::string(249, 'u') + "\n", 2, "url is 256 bytes in GBK; at most 255 fit");
    ExpectRefused(Link("a") + "cool-picture = " + std::string(256, 'p') + "\n", 3, "cool-picture is 256 bytes");
}

TEST_F(CatalogueParserTest, CharacterWithoutGbkFormIsNamed)
{
    ExpectRefused(Link("a") + "caption = smile 😀\n", 3, "caption: the character \"😀\" (U+1F600) has no GBK form");
    ExpectRefused(Link("bad \xFF bytes"), 2, "name is not valid UTF-8 text");
}

TEST_F(CatalogueParserTest, TwentyLinksFitAndTheTwentyFirstIsRefused)
{
    std::string text;
    for (int i = 1; i <= 20; ++i)
        text += Link("link" + std::to_string(i));
    ASSERT_TRUE(Parse("[home]\nurl = http://a/\n" + text)) << Text();
    EXPECT_EQ(m_records.count, 21);
    ExpectRefused(text + Link("one too many"), 41, "more than 20 links");
}

TEST_F(CatalogueParserTest, UnknownKeysAndSectionsAreRefused)
{
    ExpectRefused(Link("a") + "colour = red\n", 3, "unknown key \"colour\" in [link]");
    ExpectRefused("[home]\nname = x\nurl = http://a/\n", 2, "unknown key \"name\" in [home]");
    ExpectRefused("[links]\nname = a\n", 1, "unknown section [links]");
    ExpectRefused("name = a\n", 1, "before the first [home] or [link] section");
}

TEST_F(CatalogueParserTest, DuplicatesAreRefusedWithTheFirstLine)
{
    ExpectRefused(Link("Music") + Link("music"), 4, "the name \"music\" is already used on line 2");
    ExpectRefused(Link("Zoo") + Link("zoo"), 4, "the name \"zoo\" is already used on line 2");
    ExpectRefused(Link("a") + "url = http://1/\nurl = http://2/\n", 4, "url is given twice in this section (first on line 3)");
    ExpectRefused("[home]\nurl = http://a/\n[home]\nurl = http://b/\n", 3, "a second [home] section (the first is on line 1)");
}

TEST_F(CatalogueParserTest, MissingNamesAreRefused)
{
    ExpectRefused("[link]\ncaption = nameless\n[link]\nname = b\n", 1, "this [link] section has no name");
    ExpectRefused("[link]\nname =\n", 2, "name is empty");
    ExpectRefused(Link("HOME"), 2, "the name \"home\" is kept for the [home] section");
    ExpectRefused("[home]\n", 1, "this [home] section has no url");
}

TEST_F(CatalogueParserTest, MalformedLinesAreRefused)
{
    ExpectRefused(Link("a") + "just words\n", 3, "expected \"key = value\"");
    ExpectRefused("[link\n", 1, "must end with ]");
    ExpectRefused(Link("a") + "caption = tab\tok but bell\a\n", 3, "caption holds a control character");
    ExpectRefused(Link("a") + "url = http://a/\x7F\n", 3, "url holds a control character");
    ExpectRefused("# only a comment\n", 0, "nothing to announce");
}

// What the page needs to say a problem in its own words, without reading
// the English.
TEST_F(CatalogueParserTest, AProblemNamesItsSectionFieldAndFigures)
{
    std::string tooLong;
    for (int i = 0; i < 64; ++i)
        tooLong += "中";
    EXPECT_FALSE(Parse("[home]\nurl = http://a/\n" + Link("a") + Link("b") + "caption = " + tooLong + tooLong + "\n"));
    EXPECT_EQ(m_problem.rule, CatalogueRule::TooLong);
    EXPECT_EQ(m_problem.section, CatalogueSection::Link);
    EXPECT_EQ(m_problem.link, 1);
    EXPECT_EQ(m_problem.field, CatalogueField::Caption);
    EXPECT_EQ(m_problem.actual, 256);
    EXPECT_EQ(m_problem.limit, 255);

    EXPECT_FALSE(Parse(Link("a") + "url = http://😀/\n"));
    EXPECT_EQ(m_problem.rule, CatalogueRule::NoGbkForm);
    EXPECT_EQ(m_problem.field, CatalogueField::Url);
    EXPECT_EQ(m_problem.quoted, "😀");
    EXPECT_EQ(m_problem.actual, 0x1F600);

    EXPECT_FALSE(Parse(Link("Art") + Link("ART")));
    EXPECT_EQ(m_problem.rule, CatalogueRule::NameTaken);
    EXPECT_EQ(m_problem.link, 1);
    EXPECT_EQ(m_problem.quoted, "ART");
    EXPECT_EQ(m_problem.firstLine, 2);

    EXPECT_FALSE(Parse("[home]\n[link]\nname = a\n"));
    EXPECT_EQ(m_problem.rule, CatalogueRule::HomeWithoutUrl);
    EXPECT_EQ(m_problem.section, CatalogueSection::Home);
}

TEST_F(CatalogueParserTest, ProblemDescriptionNamesFileAndLine)
{
    CatalogueProblem problem;
    problem.rule = CatalogueRule::EmptyName;
    problem.line = 12;
    EXPECT_EQ(DescribeProblem("/etc/kestrel/catalogue.ini", problem), "/etc/kestrel/catalogue.ini:12: name is empty");
    problem = CatalogueProblem();
    problem.rule = CatalogueRule::Unreadable;
    EXPECT_EQ(DescribeProblem("c.ini", problem), "c.ini: cannot be read");
}

} // namespace
} // namespace kestrel
