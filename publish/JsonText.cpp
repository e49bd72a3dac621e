#include "publish/JsonText.h"

#include <nlohmann/json.hpp>

namespace kestrel {
namespace {

// Far more than a catalogue holds, so that the catalogue rules name the
// limit, and few enough to read quickly.
constexpr std::size_t kMostLinks = 64;
constexpr const char* kBadRequest = "请求的格式不对，请刷新页面";

} // namespace

bool ReadJsonObject(const std::string& body, int deepest, nlohmann::json& object)
{
    bool tooDeep = false;
    const auto keepShallow = [&](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        tooDeep = tooDeep || depth > deepest;
        return !tooDeep;
    };
    object = nlohmann::json::parse(body, keepShallow, false);
    return !tooDeep && object.is_object();
}

bool ReadJsonText(const nlohmann::json& object, const char* key, std::string& text)
{
    const auto member = object.find(key);
    if (member == object.end()) {
        text.clear();
        return true;
    }
    if (!member->is_string())
        return false;
    text = member->get_ref<const std::string&>();
    return true;
}

nlohmann::json EditJson(const CatalogueEdit& edit)
{
    nlohmann::json links = nlohmann::json::array();
    for (const CatalogueEdit::Link& link : edit.links) {
        links.push_back({{"name", link.name}, {"caption", link.caption}, {"url", link.url},
            {"picture", link.picture}, {"coolPicture", link.coolPicture}});
    }
    return {{"home", edit.home}, {"links", std::move(links)}, {"hosts", edit.hosts}};
}

bool ReadEditJson(const nlohmann::json& object, CatalogueEdit& edit, std::string& problem)
{
    edit = CatalogueEdit();
    const auto links = object.find("links");
    if (!ReadJsonText(object, "home", edit.home) || !ReadJsonText(object, "hosts", edit.hosts)
        || (links != object.end() && !links->is_array())) {
        problem = kBadRequest;
        return false;
    }
    if (links == object.end())
        return true;
    if (links->size() > kMostLinks) {
        problem = "链接太多：工具栏最多放 20 个";
        return false;
    }
    for (const nlohmann::json& item : *links) {
        CatalogueEdit::Link link;
        if (!item.is_object() || !ReadJsonText(item, "name", link.name) || !ReadJsonText(item, "caption", link.caption)
            || !ReadJsonText(item, "url", link.url) || !ReadJsonText(item, "picture", link.picture)
            || !ReadJsonText(item, "coolPicture", link.coolPicture)) {
            problem = "第 " + std::to_string(edit.links.size() + 1) + " 个链接：" + kBadRequest;
            return false;
        }
        edit.links.push_back(std::move(link));
    }
    return true;
}

} // namespace kestrel
