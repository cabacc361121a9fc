#include <cstring>

#include "core/exception.h"
#include "core/log.h"
#include "files/file_time.h"
#include "files/file_tree.h"

namespace {

size_t CheckedLength(const char* text, size_t limit, const char* argument) {
  const size_t length = std::strlen(text);
  if (length >= limit)
    QuorvaneI_Throw("CQuorvane_FileTreeNode::CQuorvane_FileTreeNode", EN_INVALID_PARAMETER, 0,
                    "CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): strlen( %s ) == %ld exceeds (>=) %ld!!!",
                    argument, static_cast<long>(length), static_cast<long>(limit));
  return length;
}

// Length of the well-formed UTF-8 sequence at s (n bytes left), 0 if none.
size_t Utf8SequenceLength(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  if (c < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (n < length || s[1] < low || s[1] > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((s[i] & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

size_t QuorvaneI_Utf8Prefix(const char* name, size_t maxBytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(name);
  const size_t n = std::strlen(name);
  size_t at = 0;
  while (at < n) {
    size_t step = Utf8SequenceLength(s + at, n - at);
    if (step == 0) step = 1;  // a stray byte stands for itself
    if (at + step > maxBytes) break;
    at += step;
  }
  return at;
}

std::string QuorvaneI_SanitizeUtf8(std::string_view name) {
  std::string out(name);
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  for (size_t at = 0; at < name.size();) {
    const size_t step = Utf8SequenceLength(s + at, name.size() - at);
    if (step == 0) {
      out[at++] = '_';
    } else {
      at += step;
    }
  }
  return out;
}

CQuorvane_FileTreeNode::CQuorvane_FileTreeNode(const char* absolutePath, const char* longName, const char* shortName,
                                               uint32_t attributes, uint64_t sizeInUCHARs,
                                               CQuorvane_FileTreeNode* parent, uint32_t userValue, uint64_t fileTime)
    : m__PCQuorvane_FileTreeNode__Parent(parent),
      m__ULONGLONG__SizeInUCHARs(sizeInUCHARs),
      m__ULONG__UserValue(userValue),
      m__ULONG__Attributes(attributes),
      m__LONG__Level(parent ? parent->m__LONG__Level + 1 : 1) {
  if (absolutePath == nullptr) absolutePath = "";
  if (longName == nullptr) longName = "";
  if (shortName == nullptr) shortName = "";
  CheckedLength(absolutePath, kQuorvaneMaxPath, "p__PCHAR__AbsolutePathAndFileName");
  CheckedLength(longName, kQuorvaneMaxPath, "p__PCHAR__LongFileName");
  CheckedLength(shortName, kQuorvaneShortNameSize, "p__PCHAR__ShortFileName");
  m__LONG__NodeType =
      (absolutePath[0] == '\0' || std::strcmp(absolutePath, ":") == 0) ? kQuorvaneNodeNoPath : kQuorvaneNodeFromDisk;
  StoreNames(absolutePath, longName, shortName);
  if (!QuorvaneI_FileTimeToLocalSystemTime(fileTime, &m__SYSTEMTIME__Date)) {
    m__SYSTEMTIME__Date = QV_SYSTEMTIME{};
    QuorvaneI_Log("\nCQuorvane_FileTreeNode::CQuorvane_FileTreeNode(): FileTimeToSystemTime( 0x%016llX ) failed, date "
                  "left zero\n",
                  static_cast<unsigned long long>(fileTime));
  }
}

CQuorvane_FileTreeNode::~CQuorvane_FileTreeNode() { delete[] m__PCHAR__Names; }

void CQuorvane_FileTreeNode::StoreNames(const char* path, const char* longName, const char* shortName) {
  const size_t pathLength = std::strlen(path);
  const size_t longLength = std::strlen(longName);
  const size_t shortLength = std::strlen(shortName);
  // The names usually end the path (a disk entry) and equal each other (a
  // short long name); then they point into the path instead of a copy.
  const bool longInPath = longLength <= pathLength && std::memcmp(path + pathLength - longLength, longName, longLength) == 0;
  const bool shortIsLong = shortLength == longLength && std::memcmp(shortName, longName, longLength) == 0;
  const bool shortInPath =
      !shortIsLong && shortLength <= pathLength && std::memcmp(path + pathLength - shortLength, shortName, shortLength) == 0;
  size_t total = pathLength + 1;
  if (!longInPath) total += longLength + 1;
  if (!shortIsLong && !shortInPath) total += shortLength + 1;
  char* block = new char[total];
  std::memcpy(block, path, pathLength + 1);
  size_t at = pathLength + 1;
  uint16_t longAt = static_cast<uint16_t>(pathLength - longLength);
  if (!longInPath) {
    longAt = static_cast<uint16_t>(at);
    std::memcpy(block + at, longName, longLength + 1);
    at += longLength + 1;
  }
  uint16_t shortAt = longAt;
  if (shortInPath) {
    shortAt = static_cast<uint16_t>(pathLength - shortLength);
  } else if (!shortIsLong) {
    shortAt = static_cast<uint16_t>(at);
    std::memcpy(block + at, shortName, shortLength + 1);
  }
  delete[] m__PCHAR__Names;
  m__PCHAR__Names = block;
  m__USHORT__LongNameAt = longAt;
  m__USHORT__ShortNameAt = shortAt;
}

void CQuorvane_FileTreeNode::SetNames(const char* longName, const char* shortName) {
  const std::string path = GetAbsolutePath();
  StoreNames(path.c_str(), longName, shortName);
}

void CQuorvane_FileTreeNode::RebuildName() {}

uint32_t CQuorvane_FileTreeNode::GetImageNames(char* name, char16_t* wideName) {
  if (name) std::memset(name, 0, kQuorvaneMaxPath);
  if (wideName) std::memset(wideName, 0, kQuorvaneMaxPath);
  return 0;
}
