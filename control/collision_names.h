// The names a file-system image gives a new item whose name is taken and
// that nobody else renamed: ISO9660 names get a number before the
// extension, Joliet names the local time.
#pragma once
#include <atomic>
#include <ctime>
#include <string>

namespace qv::control {

// "README.TXT;1" -> "README<counter>.TXT;1"; the base keeps at most 7
// characters when it was longer than 8. counter is post-incremented.
std::string RenameIsoCollision(const std::string& name, std::atomic<unsigned>& counter);

// "a.txt" at Mon Jan 16 03:04:05 2006 -> "a_Mon_Jan_16_03_04_05_2006_.txt".
std::u16string RenameJolietCollision(const std::u16string& name, const std::tm& localTime);

}  // namespace qv::control
