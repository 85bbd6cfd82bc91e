#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tarn1::simulator
{

/// The value at path in document. Path segments are separated by "/": an object member by its
/// name, an array element by its index (negative counts from the end, -1 the last), "size()" the
/// size of the array or object so far ("#" would start a comment in a scenario), and a name or index followed by
/// "[key=value]" (or "[key=value]" alone) the first element of that array whose member key equals value (compared as
/// text). Nothing when the path leads nowhere. Examples: "/holders/size()", "/-1/to",
/// "/-1/clients[name=stuck_app]/answer".
std::optional<nlohmann::json> json_at(const nlohmann::json& document, const std::string& path);

/// Whether value is what expected says: ">=N", "<=N", ">N", "<N" compare numbers; "!=X" and a plain
/// X compare for (in)equality: a text value equal to X matches ("kPrepSD", "800000"), and so does
/// a value equal to X read as JSON ("3", "true", "\"kOn\"").
bool json_matches(const nlohmann::json& value, const std::string& expected);

} // namespace tarn1::simulator
