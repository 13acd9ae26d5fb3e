// MD5 and SHA-1 through OpenSSL's libcrypto, loaded on the first digest so
// that a run that makes none never maps it.
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

#include "engine/log/log_sink.h"
#include "engine/util/util.h"

namespace {
// The functions of libcrypto a digest calls; all null when it cannot be loaded.
struct Crypto {
  decltype(&EVP_MD_CTX_new) CtxNew = nullptr;
  decltype(&EVP_MD_CTX_free) CtxFree = nullptr;
  decltype(&EVP_md5) Md5 = nullptr;
  decltype(&EVP_sha1) Sha1 = nullptr;
  decltype(&EVP_DigestInit_ex) Init = nullptr;
  decltype(&EVP_DigestUpdate) Update = nullptr;
  decltype(&EVP_DigestFinal_ex) Final = nullptr;
  decltype(&ERR_get_error) GetError = nullptr;
  bool Loaded = false;
};

template <typename F>
void Bind(void* lib, const char* name, F& fn) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
}

Crypto LoadCrypto() {
  Crypto c;
  // Kept open for the rest of the process, as a linked library would be.
  void* lib = dlopen(TARV_LIBCRYPTO, RTLD_NOW | RTLD_LOCAL);
  if (!lib) return c;
  Bind(lib, "EVP_MD_CTX_new", c.CtxNew);
  Bind(lib, "EVP_MD_CTX_free", c.CtxFree);
  Bind(lib, "EVP_md5", c.Md5);
  Bind(lib, "EVP_sha1", c.Sha1);
  Bind(lib, "EVP_DigestInit_ex", c.Init);
  Bind(lib, "EVP_DigestUpdate", c.Update);
  Bind(lib, "EVP_DigestFinal_ex", c.Final);
  Bind(lib, "ERR_get_error", c.GetError);
  c.Loaded = c.CtxNew && c.CtxFree && c.Md5 && c.Sha1 && c.Init && c.Update && c.Final && c.GetError;
  return c;
}

const Crypto& Lib() {
  static const Crypto crypto = LoadCrypto();  // once, whichever thread asks first
  return crypto;
}

long LastError() { return static_cast<long>(Lib().GetError()); }
}  // namespace

int HashToHex(const void* data, int len, HashAlg alg, char* dest) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  dest[0] = 0;
  const Crypto& c = Lib();
  if (!c.Loaded) return TarvReturn(-1, "1、CryptAcquireContext Error =%ld", 0L);
  const auto free = [&c](EVP_MD_CTX* ctx) { c.CtxFree(ctx); };
  std::unique_ptr<EVP_MD_CTX, decltype(free)> ctx(c.CtxNew(), free);
  if (!ctx) return TarvReturn(-1, "1、CryptAcquireContext Error =%ld", LastError());
  const EVP_MD* md = alg == HashAlg::MD5 ? c.Md5() : c.Sha1();
  if (!md || c.Init(ctx.get(), md, nullptr) != 1)
    return TarvReturn(-2, "2、CryptCreateHash Error =%ld", LastError());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (len < 0 || c.Update(ctx.get(), data, static_cast<size_t>(len)) != 1 ||
      c.Final(ctx.get(), digest, &size) != 1 || size > 20)
    return TarvReturn(-3, "3、CryptHashData Error =%ld", LastError());
  for (unsigned i = 0; i < size; i++) {
    dest[2 * i] = kHex[digest[i] >> 4];
    dest[2 * i + 1] = kHex[digest[i] & 15];
  }
  dest[2 * size] = 0;
  return static_cast<int>(2 * size);
}
