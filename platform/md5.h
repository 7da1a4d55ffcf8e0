// MD5 entry points in the shape of advapi32's MD5Init/MD5Update/MD5Final.
//
// The context is the advapi32 MD5_CTX layout: after MD5Final its 16 digest
// bytes lie at kMd5DigestOffset. On Windows the entry points are looked up in
// "advapi32.dll" on every call (the library is never released); on POSIX they
// wrap libmd. The functions themselves are safe from any thread.
#pragma once

#include <cstddef>

namespace platform {

constexpr std::size_t kMd5ContextSize = 104;
constexpr std::size_t kMd5DigestOffset = 88;

struct Md5Context {
  alignas(8) unsigned char bytes[kMd5ContextSize];
};

using Md5InitFunction = void (*)(Md5Context* context);
using Md5UpdateFunction = void (*)(Md5Context* context, const unsigned char* data,
                                   unsigned int length);
using Md5FinalFunction = void (*)(Md5Context* context);

// Fills the three entry points. False (entries unchanged) when MD5 cannot be had.
bool LoadMd5EntryPoints(Md5InitFunction* init, Md5UpdateFunction* update,
                        Md5FinalFunction* final);

}  // namespace platform
