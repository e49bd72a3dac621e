#pragma once

#include "publish/CatalogueEdit.h"

#include <nlohmann/json_fwd.hpp>
#include <string>

namespace kestrel {

// The page's requests and answers in JSON.

// The text of an answer. "<", ">" and "&" are escaped too, so the text
// stays inert wherever a page puts it; bytes that are not UTF-8 become
// U+FFFD.
std::string JsonAnswer(const nlohmann::json& value);

// The request body as a JSON object; false when it is not one.
bool ReadJsonObject(const std::string& body, nlohmann::json& object);

// The text member `key` of a request object; absent reads as "". False
// when it is something other than text.
bool ReadJsonText(const nlohmann::json& object, const char* key, std::string& text);

nlohmann::json EditJson(const CatalogueEdit& edit);
// The edit in a request object ("home" and "links"). False with `problem`
// in Chinese when its shape is wrong; the catalogue rules are checked
// afterwards, by CheckCatalogueEdit.
bool ReadEditJson(const nlohmann::json& object, CatalogueEdit& edit, std::string& problem);

} // namespace kestrel
