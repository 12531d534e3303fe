#pragma once
// A small strict JSON reader for the messages of the browser extension: exactly RFC 8259
// (no comments, no trailing commas, no bare words, no control characters in strings, valid
// UTF-8 and escapes), with a bound on nesting so hostile input cannot exhaust the stack.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv::browser {

inline constexpr std::size_t kMaxJsonDepth = 64;

struct JsonMember;

struct JsonValue {
  enum class Type { Null, Bool, Number, String, Array, Object };
  Type type = Type::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> items;                           // Array
  std::vector<JsonMember> members;  // Object, in order

  // The member named `name` of an object (the first, if repeated), or nullptr.
  const JsonValue* Find(std::string_view name) const;
};

struct JsonMember {
  std::string name;
  JsonValue value;
};

// False, with a short reason in `error`, when `text` is not one JSON value (surrounding
// white space allowed) or nests deeper than kMaxJsonDepth.
bool ParseJson(std::string_view text, JsonValue& out, std::string& error);

// `s` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view s);

}  // namespace qv::browser
