#include "control/registry_script.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "platform/errors.h"

namespace qv::control {
namespace {

struct Token {
  enum Kind { Word, Quoted, Open, Close, Equals } kind;
  std::string text;
  int line;
};

struct Value {
  std::string name;
  char type = 's';
  std::string data;
};

struct Key {
  enum Flag { Plain, NoRemove, ForceRemove, Delete } flag = Plain;
  std::string name;
  bool hasDefault = false;
  Value defaultValue;
  std::vector<Value> values;
  std::vector<Key> keys;
};

struct Root {
  std::string hive;
  std::vector<Key> keys;
};

struct ParseError {
  std::string message;
};

bool SameWord(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

std::vector<Token> Tokenize(const std::string& s) {
  std::vector<Token> out;
  int line = 1;
  for (size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (c == '\n') ++line;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '{' || c == '}' || c == '=') {
      out.push_back({c == '{' ? Token::Open : c == '}' ? Token::Close : Token::Equals, std::string(1, c), line});
      ++i;
    } else if (c == '\'') {
      // Quoted text; a doubled quote stands for one.
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) throw ParseError{"unterminated quote on line " + std::to_string(line)};
        if (s[j] == '\'') {
          if (j + 1 < s.size() && s[j + 1] == '\'') {
            text += '\'';
            ++j;
            continue;
          }
          break;
        }
        if (s[j] == '\n') ++line;
        text += s[j];
      }
      out.push_back({Token::Quoted, text, line});
      i = j + 1;
    } else {
      size_t j = i;
      while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])) && s[j] != '{' && s[j] != '}' &&
             s[j] != '=' && s[j] != '\'')
        ++j;
      out.push_back({Token::Word, s.substr(i, j - i), line});
      i = j;
    }
  }
  return out;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, const std::map<std::string, std::string>& subs)
      : tokens_(std::move(tokens)), subs_(subs) {}

  std::vector<Root> Script() {
    std::vector<Root> roots;
    while (!AtEnd()) {
      Root root;
      root.hive = Expect(Token::Word, "a registry root").text;
      Expect(Token::Open, "'{'");
      while (!Peek(Token::Close)) {
        if (AtEnd()) Expect(Token::Close, "'}'");
        root.keys.push_back(ParseKey());
      }
      Expect(Token::Close, "'}'");
      roots.push_back(std::move(root));
    }
    return roots;
  }

 private:
  bool AtEnd() const { return pos_ >= tokens_.size(); }
  bool Peek(Token::Kind kind) const { return !AtEnd() && tokens_[pos_].kind == kind; }
  int Line() const { return AtEnd() ? (tokens_.empty() ? 1 : tokens_.back().line) : tokens_[pos_].line; }

  const Token& Expect(Token::Kind kind, const char* what) {
    if (!Peek(kind))
      throw ParseError{std::string("expected ") + what + " on line " + std::to_string(Line()) +
                       (AtEnd() ? " at the end" : ", found '" + tokens_[pos_].text + "'")};
    return tokens_[pos_++];
  }

  // A name: a word or quoted text, with %NAME% replaced.
  std::string Name(const char* what) {
    if (!Peek(Token::Word) && !Peek(Token::Quoted)) Expect(Token::Word, what);
    return Substitute(tokens_[pos_++].text);
  }

  std::string Substitute(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '%') {
        out += text[i];
        continue;
      }
      const size_t end = text.find('%', i + 1);
      if (end == std::string::npos) throw ParseError{"unpaired '%' in '" + text + "' on line " + std::to_string(Line())};
      const std::string name = text.substr(i + 1, end - i - 1);
      auto it = subs_.find(name);
      if (it == subs_.end()) throw ParseError{"unknown replacement %" + name + "% on line " + std::to_string(Line())};
      out += it->second;
      i = end;
    }
    return out;
  }

  // "= s 'text'" or "= d 'number'".
  Value Assignment(std::string name) {
    Expect(Token::Equals, "'='");
    Value v;
    v.name = std::move(name);
    const std::string type = Expect(Token::Word, "a value type").text;
    if (SameWord(type, "s"))
      v.type = 's';
    else if (SameWord(type, "d"))
      v.type = 'd';
    else
      throw ParseError{"unsupported value type '" + type + "' on line " + std::to_string(Line())};
    if (!Peek(Token::Quoted) && !Peek(Token::Word)) Expect(Token::Quoted, "a value");
    v.data = Substitute(tokens_[pos_++].text);
    if (v.type == 'd') {
      char* end = nullptr;
      const unsigned long long n = std::strtoull(v.data.c_str(), &end, 0);
      if (v.data.empty() || *end != '\0' || n > 0xFFFFFFFFull)
        throw ParseError{"'" + v.data + "' is not a number on line " + std::to_string(Line())};
    }
    return v;
  }

  Key ParseKey() {
    Key key;
    if (Peek(Token::Word)) {
      const std::string& w = tokens_[pos_].text;
      if (SameWord(w, "NoRemove")) key.flag = Key::NoRemove;
      else if (SameWord(w, "ForceRemove")) key.flag = Key::ForceRemove;
      else if (SameWord(w, "Delete")) key.flag = Key::Delete;
      if (key.flag != Key::Plain) ++pos_;
    }
    key.name = Name("a key name");
    if (Peek(Token::Equals)) {
      key.hasDefault = true;
      key.defaultValue = Assignment("");
    }
    if (!Peek(Token::Open)) return key;
    ++pos_;
    while (!Peek(Token::Close)) {
      if (AtEnd()) Expect(Token::Close, "'}'");
      if (Peek(Token::Word) && SameWord(tokens_[pos_].text, "val")) {
        ++pos_;
        std::string name = Name("a value name");
        key.values.push_back(Assignment(std::move(name)));
      } else {
        key.keys.push_back(ParseKey());
      }
    }
    ++pos_;
    return key;
  }

  std::vector<Token> tokens_;
  const std::map<std::string, std::string>& subs_;
  size_t pos_ = 0;
};

std::string Join(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + "\\" + name;
}

uint32_t SetValue(RegistryWriter& w, const std::string& root, const std::string& path, const Value& v) {
  if (v.type == 'd')
    return w.SetNumber(root, path, v.name, static_cast<uint32_t>(std::strtoul(v.data.c_str(), nullptr, 0)));
  return w.SetString(root, path, v.name, v.data);
}

uint32_t Register(RegistryWriter& w, const std::string& root, const std::string& parent, const std::vector<Key>& keys) {
  for (const Key& key : keys) {
    if (key.name.empty()) continue;
    const std::string path = Join(parent, key.name);
    if (key.flag == Key::Delete) {
      if (uint32_t e = w.DeleteTree(root, path)) return e;
      continue;
    }
    if (key.flag == Key::ForceRemove)
      if (uint32_t e = w.DeleteTree(root, path)) return e;
    if (uint32_t e = w.CreateKey(root, path)) return e;
    if (key.hasDefault)
      if (uint32_t e = SetValue(w, root, path, key.defaultValue)) return e;
    for (const Value& v : key.values) {
      if (v.name.empty() || (v.type == 's' && v.data.empty())) continue;
      if (uint32_t e = SetValue(w, root, path, v)) return e;
    }
    if (uint32_t e = Register(w, root, path, key.keys)) return e;
  }
  return 0;
}

uint32_t Unregister(RegistryWriter& w, const std::string& root, const std::string& parent,
                    const std::vector<Key>& keys) {
  uint32_t first = 0;
  for (const Key& key : keys) {
    if (key.name.empty() || key.flag == Key::Delete) continue;
    const std::string path = Join(parent, key.name);
    const uint32_t e = key.flag == Key::NoRemove ? Unregister(w, root, path, key.keys) : w.DeleteTree(root, path);
    if (first == 0) first = e;
  }
  return first;
}

}  // namespace

uint32_t ApplyRegistryScript(const std::string& script, const std::map<std::string, std::string>& substitutions,
                             ScriptAction action, RegistryWriter& writer, std::string* error) {
  std::vector<Root> roots;
  try {
    roots = Parser(Tokenize(script), substitutions).Script();
  } catch (const ParseError& e) {
    if (error) *error = e.message;
    return qv::plat::kErrInvalidData;
  }
  uint32_t first = 0;
  for (const Root& root : roots) {
    const uint32_t e = action == ScriptAction::Register ? Register(writer, root.hive, "", root.keys)
                                                         : Unregister(writer, root.hive, "", root.keys);
    if (e != 0 && first == 0) first = e;
    if (first != 0 && action == ScriptAction::Register) break;
  }
  if (error) error->clear();
  return first;
}

}  // namespace qv::control
