// The JSON every tool prints. Values are built as nlohmann::ordered_json
// (keys stay in the order they are set) and written on one line in the
// tools' layout: `{"key": value, "list": [1, 2]}`.
//
// Strings are escaped as JSON requires; bytes that are not UTF-8 (a path
// can hold any) become U+FFFD, so the line is always valid JSON. Integers
// are written exactly; a double is written in its shortest exact form.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace orvan::tools {

using Json = nlohmann::ordered_json;

// `value` as one line of text, without the newline.
std::string JsonLine(const Json &value);
// `value` and a newline on stdout.
void PrintJson(const Json &value);

}  // namespace orvan::tools
