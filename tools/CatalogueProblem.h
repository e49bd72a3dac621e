#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// The catalogue rules a file can break. The comment names the details a
// problem of the rule carries beyond its line and section.
enum class CatalogueRule {
    Unreadable,        // systemError (0: not a regular file)
    FileTooLarge,      // limit: the bytes a file may have
    NothingToAnnounce, // no section at all
    SectionNotClosed,  // "[link" without "]"
    NotKeyValue,       // a line that is neither key, section nor comment
    KeyOutsideSection, // quoted: the key
    UnknownSection,    // quoted: the section's name
    UnknownKey,        // quoted: the key
    SecondHome,        // firstLine: the first [home]
    TooManyLinks,      // limit: the links the window holds
    HomeWithoutUrl,
    LinkWithoutName,
    KeyGivenTwice,     // field; firstLine: where it was given first
    ControlCharacter,  // field
    NotUtf8,           // field
    NoGbkForm,         // field; quoted: the character; actual: its code point
    TooLong,           // field; actual: its bytes in GBK; limit: the bytes that fit
    EmptyName,
    NameKeptForHome,
    NameTaken,         // quoted: the name; firstLine: where it is used first
};

enum class CatalogueSection { None, Home, Link };

// The keys of a section, each a field of the link record.
enum class CatalogueField { None, Name, Caption, Url, Picture, CoolPicture };

// Why a catalogue file was refused, as a finding a program can say in its
// own words: the announcer in English for IT staff, the publishing page in
// Chinese for teachers.
struct CatalogueProblem {
    CatalogueRule rule = CatalogueRule::NothingToAnnounce;
    // The line it was found on; 0 when it concerns the whole file.
    int line = 0;
    // The section it lies in; for a [link], its place among the file's
    // [link] sections, 0 for the first.
    CatalogueSection section = CatalogueSection::None;
    int link = 0;
    CatalogueField field = CatalogueField::None;
    // The bound broken and the value that broke it, where the rule has one.
    long limit = 0;
    long actual = 0;
    // Where the first of two stands, for a rule against giving a thing twice.
    int firstLine = 0;
    // The text at fault, as the file gives it.
    std::string quoted;
    int systemError = 0;
};

// "cool-picture": the field's key in a catalogue file.
const char* CatalogueKey(CatalogueField field);

// What is wrong, in IT staff's terms: "name is empty".
std::string CatalogueProblemText(const CatalogueProblem& problem);

// "catalogue.ini:12: name is empty" -- the form editors and terminals know
// how to jump to.
std::string DescribeProblem(std::string_view fileName, const CatalogueProblem& problem);

} // namespace kestrel
