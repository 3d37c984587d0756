// Authenticode checks of downloaded packages and components: is the file signed, and is
// one of its signatures, the outer one or a nested one (dual signing), made by the
// publisher the product configuration expects ("expected_signer")?
//
//   std::string error;
//   if (!VerifyFileSignature(package, &error))
//     stats->SetString("signature_check_error", error);
#ifndef DESKTOP_WINDOWS_INSTALLER_VERIFICATION_AUTHENTICODE_H_
#define DESKTOP_WINDOWS_INSTALLER_VERIFICATION_AUTHENTICODE_H_

#include <windows.h>

#include <wincrypt.h>

#include <string>

#include "base/files/file_path.h"
#include "base/result.h"

namespace installer {

// Where the signer search writes what it tried; every entry is "Level N: " + text.
class VerificationLog {
 public:
  virtual ~VerificationLog() = default;
  virtual void Add(int level, const std::string& text) = 0;
  // Whether entries are kept (trust chains are only described then).
  virtual bool records() const = 0;
};

class TextVerificationLog : public VerificationLog {
 public:
  void Add(int level, const std::string& text) override;
  bool records() const override { return true; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

class NullVerificationLog : public VerificationLog {
 public:
  void Add(int, const std::string&) override {}
  bool records() const override { return false; }
};

// False when |path| cannot be read or is no PE image; otherwise true with |is_signed|
// telling whether the image has a certificate table.
[[nodiscard]] bool HasSignatureDirectory(const base::FilePath& path, bool* is_signed);

// Whether what an installer downloads, takes or starts elevated must pass
// VerifyFileSignature: a signed build requires it, an unsigned test build does not.
enum class SignatureRule { kRequired, kNotRequired };

// This build's rule, read from the headers of this process's own image as they are
// mapped in memory: a file someone later puts at the name the installer was started
// from cannot change it. Headers that cannot be read require signatures.
SignatureRule ThisBuildSignatureRule();
// The rule of the image mapped at |image| (an HMODULE, a view of an image section).
SignatureRule SignatureRuleOfImage(const void* image);
// Whether |rule| requires signatures; logs the skipped check when it does not.
bool AreSignaturesRequired(SignatureRule rule);

// Whether a nested signer's certificate chain is trusted for code signing: success, or
// the failure with the policy's error. The real check asks the system's Authenticode
// chain policy; the verifiers below use it unless their caller passes another (tests do:
// the machine's root store cannot be given a test root under Wine).
using ChainPolicyCheck = base::Result<> (*)(PCCERT_CHAIN_CONTEXT chain);
base::Result<> CheckAuthenticodeChainPolicy(PCCERT_CHAIN_CONTEXT chain);

// True when the file's signature verifies and it, or a nested signature that verifies
// too, was made by the configured expected signer. |error| (may be null) receives every
// failure and the signer search's log.
[[nodiscard]] bool VerifyFileSignature(
    const base::FilePath& path, std::string* error,
    ChainPolicyCheck chain_policy_check = &CheckAuthenticodeChainPolicy);
// The same with the expected signer given.
[[nodiscard]] bool VerifyFileSignatureBy(
    const base::FilePath& path, const std::wstring& expected_signer, std::string* error,
    ChainPolicyCheck chain_policy_check = &CheckAuthenticodeChainPolicy);

// Searches the signers of |message|, and those of its nested signatures, for
// |expected_signer|. A signer at |level| 0 is taken as the caller verified it; a nested
// signature counts only when its own signature, |chain_policy_check| of its certificate
// chain and file digest of |path| verify.
[[nodiscard]] bool FindExpectedSigner(HCERTSTORE store, HCRYPTMSG message, DWORD encoding,
                                      const base::FilePath& path,
                                      const std::wstring& expected_signer,
                                      ChainPolicyCheck chain_policy_check, VerificationLog* log,
                                      int level);

// Logs the chain of |certificate|: its trust status and every element's name and SHA-1.
void DescribeTrustChain(PCCERT_CONTEXT certificate, HCERTSTORE store, VerificationLog* log,
                        int level);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_VERIFICATION_AUTHENTICODE_H_
