#include "tools/CatalogueProblem.h"

#include <cstdio>
#include <cstring>

namespace kestrel {

const char* CatalogueKey(CatalogueField field)
{
    switch (field) {
    case CatalogueField::Name:
        return "name";
    case CatalogueField::Caption:
        return "caption";
    case CatalogueField::Url:
        return "url";
    case CatalogueField::Picture:
        return "picture";
    case CatalogueField::CoolPicture:
        return "cool-picture";
    case CatalogueField::None:
        break;
    }
    return "";
}

std::string CatalogueProblemText(const CatalogueProblem& problem)
{
    const std::string key = CatalogueKey(problem.field);
    const std::string quoted = "\"" + problem.quoted + "\"";
    const std::string firstLine = std::to_string(problem.firstLine);
    switch (problem.rule) {
    case CatalogueRule::Unreadable:
        return problem.systemError ? std::string("cannot be read: ") + std::strerror(problem.systemError)
                                   : "cannot be read";
    case CatalogueRule::FileTooLarge:
        return "is larger than " + std::to_string(problem.limit >> 20)
            + " MiB; a catalogue of twenty links needs a few kilobytes";
    case CatalogueRule::NothingToAnnounce:
        return "no [home] and no [link] section: nothing to announce";
    case CatalogueRule::SectionNotClosed:
        return "a section name must end with ]";
    case CatalogueRule::NotKeyValue:
        return "expected \"key = value\", a [section] or a # comment";
    case CatalogueRule::KeyOutsideSection:
        return quoted + " stands before the first [home] or [link] section";
    case CatalogueRule::UnknownSection:
        return "unknown section [" + problem.quoted + "]; a catalogue has [home] and [link] sections";
    case CatalogueRule::UnknownKey:
        if (problem.section == CatalogueSection::Home)
            return "unknown key " + quoted + " in [home]; it takes only url";
        return "unknown key " + quoted + " in [link]; it takes name, caption, url, picture and cool-picture";
    case CatalogueRule::SecondHome:
        return "a second [home] section (the first is on line " + firstLine + ")";
    case CatalogueRule::TooManyLinks:
        return "more than " + std::to_string(problem.limit) + " links: the window has room for "
            + std::to_string(problem.limit);
    case CatalogueRule::HomeWithoutUrl:
        return "this [home] section has no url";
    case CatalogueRule::LinkWithoutName:
        return "this [link] section has no name";
    case CatalogueRule::KeyGivenTwice:
        return key + " is given twice in this section (first on line " + firstLine + ")";
    case CatalogueRule::ControlCharacter:
        return key + " holds a control character";
    case CatalogueRule::NotUtf8:
        return key + " is not valid UTF-8 text; save the file as UTF-8";
    case CatalogueRule::NoGbkForm: {
        char codePoint[24];
        std::snprintf(codePoint, sizeof codePoint, "U+%04lX", problem.actual);
        return key + ": the character " + quoted + " (" + codePoint + ") has no GBK form";
    }
    case CatalogueRule::TooLong:
        return key + " is " + std::to_string(problem.actual) + " bytes in GBK; at most "
            + std::to_string(problem.limit) + " fit";
    case CatalogueRule::EmptyName:
        return "name is empty";
    case CatalogueRule::NameKeptForHome:
        return "the name \"home\" is kept for the [home] section";
    case CatalogueRule::NameTaken:
        return "the name " + quoted + " is already used on line " + firstLine;
    }
    return "";
}

std::string DescribeProblem(std::string_view fileName, const CatalogueProblem& problem)
{
    std::string description(fileName);
    if (problem.line > 0)
        description += ":" + std::to_string(problem.line);
    description += ": " + CatalogueProblemText(problem);
    return description;
}

} // namespace kestrel
