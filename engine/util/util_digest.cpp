#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {
struct CtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

long LastError() { return static_cast<long>(ERR_get_error()); }
}  // namespace

int HashToHex(const void* data, int len, HashAlg alg, char* dest) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  dest[0] = 0;
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx) return TarvReturn(-1, "1、CryptAcquireContext Error =%ld", LastError());
  const EVP_MD* md = alg == HashAlg::MD5 ? EVP_md5() : EVP_sha1();
  if (!md || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
    return TarvReturn(-2, "2、CryptCreateHash Error =%ld", LastError());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (len < 0 || EVP_DigestUpdate(ctx.get(), data, static_cast<size_t>(len)) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1 || size > 20)
    return TarvReturn(-3, "3、CryptHashData Error =%ld", LastError());
  for (unsigned i = 0; i < size; i++) {
    dest[2 * i] = kHex[digest[i] >> 4];
    dest[2 * i + 1] = kHex[digest[i] & 15];
  }
  dest[2 * size] = 0;
  return static_cast<int>(2 * size);
}
