#include <windows.h>

#include "platform/md5.h"

namespace platform {

bool LoadMd5EntryPoints(Md5InitFunction* init, Md5UpdateFunction* update,
                        Md5FinalFunction* final) {
  // Loaded by name on every call and never released, as the system expects.
  HMODULE library = LoadLibraryA("advapi32.dll");
  if (library == nullptr) return false;
  FARPROC initEntry = GetProcAddress(library, "MD5Init");
  FARPROC updateEntry = GetProcAddress(library, "MD5Update");
  FARPROC finalEntry = GetProcAddress(library, "MD5Final");
  if (initEntry == nullptr || updateEntry == nullptr || finalEntry == nullptr) return false;
  *init = reinterpret_cast<Md5InitFunction>(reinterpret_cast<void*>(initEntry));
  *update = reinterpret_cast<Md5UpdateFunction>(reinterpret_cast<void*>(updateEntry));
  *final = reinterpret_cast<Md5FinalFunction>(reinterpret_cast<void*>(finalEntry));
  return true;
}

}  // namespace platform
