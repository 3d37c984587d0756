// SecureHash: a streaming hash whose state is wiped when it is destroyed.
//
//   std::unique_ptr<crypto::SecureHash> hash =
//       crypto::SecureHash::Create(crypto::SecureHash::SHA256);
//   hash->Update(data, size);
//   hash->Finish(digest, sizeof(digest));
#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <stddef.h>

#include <memory>

namespace crypto {

class SecureHash {
 public:
  enum Algorithm { SHA256 = 0 };

  // Null (and an error log) for an algorithm that is not implemented.
  static std::unique_ptr<SecureHash> Create(Algorithm type);

  SecureHash(const SecureHash&) = delete;
  SecureHash& operator=(const SecureHash&) = delete;
  virtual ~SecureHash() = default;

  virtual void Update(const void* input, size_t length) = 0;
  // Writes the first |length| bytes of the digest (all of it when |length| is larger).
  virtual void Finish(void* output, size_t length) = 0;
  virtual size_t GetHashLength() const = 0;
  // A new hash carrying on from the current state.
  virtual std::unique_ptr<SecureHash> Clone() const = 0;

 protected:
  SecureHash() = default;
};

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_
