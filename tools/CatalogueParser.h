#pragma once

#include "tools/AnnouncedRecords.h"
#include "tools/CatalogueProblem.h"

#include <cstddef>
#include <string_view>

namespace kestrel {

// Reads the catalogue an IT teacher writes: UTF-8 text, one [link] section
// per link and at most one [home] section.
//
//   # comment            ; comment
//   [home]
//   url = http://school/index.html
//   [link]
//   name = 语文
//   caption = 语文课
//   url = http://school/yuwen.html
//   picture = http://school/yuwen-hot.bmp
//   cool-picture = http://school/yuwen-cool.bmp
//
// Section and key names ignore letter case; blanks around names and values
// are dropped. Every text is turned into GBK and must fit its record field.
class CCatalogueParser {
public:
    // False, with `problem` saying what is wrong where, at the first thing
    // wrong.
    bool Parse(std::string_view text, AnnouncedRecords& records, CatalogueProblem& problem);

private:
    struct KeyRule;
    static constexpr int kKeyCount = 5;

    bool ParseLine(std::string_view line);
    bool OpenSection(std::string_view name);
    bool CloseSection();
    bool SetKey(std::string_view key, std::string_view value);
    bool StoreText(const KeyRule& rule, std::string_view value);
    bool CheckNewName();
    // Notes which rule broke on `line`, in the open section; the caller adds
    // the details its rule carries and returns false.
    CatalogueProblem& Found(CatalogueRule rule, int line, CatalogueField field = CatalogueField::None);
    // The same for a rule that carries no more details; false, to return.
    bool Fail(CatalogueRule rule, int line, CatalogueField field = CatalogueField::None);

    AnnouncedRecords* m_records = nullptr;
    CatalogueProblem* m_problem = nullptr;
    int m_line = 0;
    CatalogueSection m_section = CatalogueSection::None;
    int m_sectionLine = 0;
    int m_homeLine = 0;
    int m_linkCount = 0;
    // Line on which each key of the open section was given, 0 when not yet.
    int m_keyLines[kKeyCount] = {};
    // Line of each record's name, to point back at the first of two.
    int m_nameLines[AnnouncedRecords::kCapacity] = {};
};

} // namespace kestrel
