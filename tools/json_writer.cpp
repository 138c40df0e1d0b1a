#include "tools/json_writer.h"

#include <cstdio>

namespace orvan::tools {
namespace {

void Append(const Json &value, std::string &out) {
  if (value.is_object()) {
    out += '{';
    bool first = true;
    for (const auto &[key, member] : value.items()) {
      if (!first) out += ", ";
      first = false;
      Append(Json(key), out);
      out += ": ";
      Append(member, out);
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (size_t i = 0; i < value.size(); ++i) {
      if (i) out += ", ";
      Append(value[i], out);
    }
    out += ']';
  } else {
    out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string JsonLine(const Json &value) {
  std::string out;
  Append(value, out);
  return out;
}

void PrintJson(const Json &value) { std::printf("%s\n", JsonLine(value).c_str()); }

}  // namespace orvan::tools
