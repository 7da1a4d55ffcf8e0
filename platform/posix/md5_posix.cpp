#include <md5.h>

#include <cstring>

#include "platform/md5.h"

namespace platform {
namespace {

// libmd's context lives at the start of the advapi32-shaped context; the
// digest is copied to where advapi32 leaves it.
static_assert(sizeof(MD5_CTX) <= kMd5DigestOffset, "libmd context does not fit");

void Init(Md5Context* context) { MD5Init(reinterpret_cast<MD5_CTX*>(context->bytes)); }

void Update(Md5Context* context, const unsigned char* data, unsigned int length) {
  MD5Update(reinterpret_cast<MD5_CTX*>(context->bytes), data, length);
}

void Final(Md5Context* context) {
  unsigned char digest[16];
  MD5Final(digest, reinterpret_cast<MD5_CTX*>(context->bytes));
  std::memcpy(context->bytes + kMd5DigestOffset, digest, sizeof digest);
}

}  // namespace

bool LoadMd5EntryPoints(Md5InitFunction* init, Md5UpdateFunction* update,
                        Md5FinalFunction* final) {
  *init = Init;
  *update = Update;
  *final = Final;
  return true;
}

}  // namespace platform
