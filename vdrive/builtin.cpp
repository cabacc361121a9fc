#include "vdrive/builtin.h"

#include <cstring>

#include "vdrive/qvdrive.h"

namespace qv::vdrive {

namespace {

struct Export {
  const char* name;
  void* address;
};

#define QV_EXPORT(f) {#f, reinterpret_cast<void*>(&f)}
const Export kPassThrough[] = {
    QV_EXPORT(QvSptd_Ordinal44), QV_EXPORT(QvSptd_Ordinal45), QV_EXPORT(QvSptd_Ordinal46),
    QV_EXPORT(QvSptd_Ordinal47), QV_EXPORT(QvSptd_Ordinal48),
};
const Export kAuxiliary[] = {
    QV_EXPORT(QvDralik_Attach),      QV_EXPORT(QvDralik_Detach),      QV_EXPORT(QvDralik_Control),
    QV_EXPORT(QvDralik_PassThrough), QV_EXPORT(QvDralik_CloseDevice),
};
#undef QV_EXPORT

template <size_t N>
void* Find(const Export (&table)[N], const char* symbol) {
  for (const Export& e : table)
    if (symbol != nullptr && std::strcmp(e.name, symbol) == 0) return e.address;
  return nullptr;
}

void* ResolvePassThrough(const char* symbol) { return Find(kPassThrough, symbol); }
void* ResolveAuxiliary(const char* symbol) { return Find(kAuxiliary, symbol); }

const plat::BuiltinLibrary kPassThroughLibrary{"dtpro.dll", &ResolvePassThrough};
const plat::BuiltinLibrary kAuxiliaryLibrary{"Dralik", &ResolveAuxiliary};

}  // namespace

const plat::BuiltinLibrary& PassThroughLibrary() { return kPassThroughLibrary; }
const plat::BuiltinLibrary& AuxiliaryDriverLibrary() { return kAuxiliaryLibrary; }

}  // namespace qv::vdrive
