#pragma once

#include "publish/CatalogueEdit.h"

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The page's requests and answers in JSON; an answer's text is
// InertJsonText (tools/InertJson.h), as the announcer's room summary.

// How deep an edit nests: the object, its links, a link, and the link's
// texts inside that.
constexpr int kEditJsonDepth = 3;

// The request body as a JSON object whose values lie at most `deepest`
// containers down (1: members that are text or numbers); false when it is
// not one. Never throws; what lies deeper is refused, not kept.
bool ReadJsonObject(const std::string& body, int deepest, nlohmann::json& object);

// The text member `key` of a request object; absent reads as "". False
// when it is something other than text.
bool ReadJsonText(const nlohmann::json& object, const char* key, std::string& text);

nlohmann::json EditJson(const CatalogueEdit& edit);
// The edit in a request object ("home", "links" and "hosts"). False with `problem`
// in Chinese when its shape is wrong; the catalogue rules are checked
// afterwards, by CheckCatalogueEdit.
bool ReadEditJson(const nlohmann::json& object, CatalogueEdit& edit, std::string& problem);

} // namespace kestrel
