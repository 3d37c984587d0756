#include "crypto/secure_hash.h"

#include <string.h>

#include <openssl/mem.h>
#include <openssl/sha.h>

#include "base/logging.h"

namespace crypto {

namespace {

class SecureHashSha256 : public SecureHash {
 public:
  SecureHashSha256() { SHA256_Init(&context_); }
  SecureHashSha256(const SecureHashSha256& other) : SecureHash() {
    memcpy(&context_, &other.context_, sizeof(context_));
  }
  // The context holds a prefix of the hashed data; it must not linger in freed memory.
  ~SecureHashSha256() override { OPENSSL_cleanse(&context_, sizeof(context_)); }

  void Update(const void* input, size_t length) override {
    SHA256_Update(&context_, input, length);
  }

  void Finish(void* output, size_t length) override {
    if (length >= SHA256_DIGEST_LENGTH) {
      SHA256_Final(static_cast<uint8_t*>(output), &context_);
      return;
    }
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &context_);
    memcpy(output, digest, length);
    OPENSSL_cleanse(digest, sizeof(digest));
  }

  size_t GetHashLength() const override { return SHA256_DIGEST_LENGTH; }

  std::unique_ptr<SecureHash> Clone() const override {
    return std::unique_ptr<SecureHash>(new SecureHashSha256(*this));
  }

 private:
  SHA256_CTX context_;
};

}  // namespace

// static
std::unique_ptr<SecureHash> SecureHash::Create(Algorithm type) {
  if (type == SHA256)
    return std::unique_ptr<SecureHash>(new SecureHashSha256());
  LOG(ERROR) << "NOT IMPLEMENTED";
  return nullptr;
}

}  // namespace crypto
