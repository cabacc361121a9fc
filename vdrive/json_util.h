// Reading the drive folder's small JSON files strictly: a missing key keeps
// its default, a key of the wrong type or out of range is an error that
// names the key.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace qv::vdrive {

// Thrown by the readers below; its text names the file's key.
class BadJson : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A whole file's text as one JSON value. The parser stops at a NUL byte as
// at the end, so one in the text is refused, not the rest ignored; any
// other text after the value is a parse error.
inline nlohmann::json ParseWhole(const std::string& text) {
  if (const size_t nul = text.find('\0'); nul != std::string::npos)
    throw BadJson("a NUL byte at offset " + std::to_string(nul) + ": not JSON text");
  return nlohmann::json::parse(text);
}

inline const nlohmann::json* Member(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) throw BadJson("expected an object");
  auto it = object.find(key);
  return it == object.end() || it->is_null() ? nullptr : &*it;
}

// An unsigned number in [low, high].
inline bool ReadNumber(const nlohmann::json& object, const char* key, uint64_t low, uint64_t high, uint64_t* out) {
  const nlohmann::json* v = Member(object, key);
  if (v == nullptr) return false;
  if (!v->is_number_unsigned() && !(v->is_number_integer() && v->get<int64_t>() >= 0))
    throw BadJson(std::string("\"") + key + "\" must be a whole number");
  const uint64_t n = v->get<uint64_t>();
  if (n < low || n > high)
    throw BadJson(std::string("\"") + key + "\" must be between " + std::to_string(low) + " and " +
                  std::to_string(high));
  *out = n;
  return true;
}

template <class T>
bool ReadUnsigned(const nlohmann::json& object, const char* key, uint64_t low, uint64_t high, T* out) {
  uint64_t n;
  if (!ReadNumber(object, key, low, high, &n)) return false;
  *out = static_cast<T>(n);
  return true;
}

inline bool ReadBool(const nlohmann::json& object, const char* key, bool* out) {
  const nlohmann::json* v = Member(object, key);
  if (v == nullptr) return false;
  if (!v->is_boolean()) throw BadJson(std::string("\"") + key + "\" must be true or false");
  *out = v->get<bool>();
  return true;
}

// Text of printable ASCII, at most maxLength characters.
inline bool ReadText(const nlohmann::json& object, const char* key, size_t maxLength, std::string* out) {
  const nlohmann::json* v = Member(object, key);
  if (v == nullptr) return false;
  if (!v->is_string()) throw BadJson(std::string("\"") + key + "\" must be text");
  const std::string s = v->get<std::string>();
  if (s.size() > maxLength)
    throw BadJson(std::string("\"") + key + "\" is longer than " + std::to_string(maxLength) + " characters");
  for (char c : s)
    if (c < 0x20 || c > 0x7E) throw BadJson(std::string("\"") + key + "\" holds a character that is not printable ASCII");
  *out = s;
  return true;
}

}  // namespace qv::vdrive
