#include "desktop/windows/installer/verification/authenticode.h"

#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/pe_image.h"
#include "base/win/scoped_generic.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"

namespace installer {

namespace {

const char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

// The chain of |certificate| by the default engine, now, with |store| for intermediates.
base::ScopedCertChain GetChain(PCCERT_CONTEXT certificate, HCERTSTORE store) {
  CERT_CHAIN_PARA chain_para = {};
  chain_para.cbSize = sizeof(chain_para);
  base::ScopedCertChain chain;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, store, &chain_para, 0, nullptr,
                               chain.Receive())) {
    return base::ScopedCertChain();
  }
  return chain;
}

std::string LastErrorText() { return base::Win32ErrorToString(GetLastError()); }

// A message parameter as bytes; empty when it cannot be read.
std::vector<uint8_t> GetMessageParam(HCRYPTMSG message, DWORD type, DWORD index) {
  DWORD size = 0;
  if (!CryptMsgGetParam(message, type, index, nullptr, &size) || size == 0) return {};
  std::vector<uint8_t> param(size);
  if (!CryptMsgGetParam(message, type, index, param.data(), &size)) return {};
  param.resize(size);
  return param;
}

std::string DisplayName(PCCERT_CONTEXT certificate) {
  const DWORD length =
      CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length <= 1) return std::string();
  std::wstring name(length, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], length);
  name.resize(length - 1);
  return base::WideToUTF8(name);
}

// The Authenticode digest of the image at |path|: the file up to its certificate table
// without the header checksum and the security directory entry, hashed with the
// algorithm |algorithm_oid| names. Empty when the file or the algorithm cannot be used.
std::vector<uint8_t> ImageDigest(const base::FilePath& path, const char* algorithm_oid) {
  base::MappedFile file;
  base::PeSecurityDirectory directory;
  if (!file.Initialize(path, base::MappedFile::READ_ONLY) ||
      !base::ReadPeSecurityDirectory(file.data(), file.length(), &directory)) {
    return {};
  }
  const uint64_t end = directory.size != 0 ? directory.offset : file.length();
  if (end > file.length() || directory.entry_position + 8 > end) return {};
  const ALG_ID algorithm = CertOIDToAlgId(algorithm_oid);
  HCRYPTPROV acquired = 0;
  if (algorithm == 0 ||
      !CryptAcquireContextW(&acquired, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return {};
  }
  const base::ScopedCryptProvider provider(acquired);
  std::vector<uint8_t> digest;
  HCRYPTHASH created = 0;
  if (CryptCreateHash(provider.Get(), algorithm, 0, 0, &created)) {
    // Destroyed before the provider it was made with.
    const base::ScopedCryptHash hash(created);
    const uint8_t* data = file.data();
    const uint64_t ranges[][2] = {
        {0, directory.checksum_position},
        {directory.checksum_position + 4, directory.entry_position},
        {directory.entry_position + 8, end},
    };
    bool hashed = true;
    for (const auto& range : ranges) {
      hashed = hashed && CryptHashData(hash.Get(), data + range[0],
                                       static_cast<DWORD>(range[1] - range[0]), 0);
    }
    DWORD size = 0;
    DWORD size_length = sizeof(size);
    if (hashed && CryptGetHashParam(hash.Get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&size),
                                    &size_length, 0)) {
      digest.resize(size);
      if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest.data(), &size, 0)) digest.clear();
    }
  }
  return digest;
}

// A nested signature is an unauthenticated attribute that anyone can add, so it counts
// only when it verifies by itself: its signature over its attributes, its signer's
// chain, and the digest of this very file that it signed.
[[nodiscard]] bool VerifyNestedSigner(HCRYPTMSG message, DWORD signer_index,
                                      PCCERT_CONTEXT certificate, HCERTSTORE store,
                                      DWORD encoding, const base::FilePath& path,
                                      ChainPolicyCheck chain_policy_check, VerificationLog* log,
                                      int level) {
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify = {};
  verify.cbSize = sizeof(verify);
  verify.dwSignerIndex = signer_index;
  verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  verify.pvSigner = const_cast<CERT_CONTEXT*>(certificate);
  if (!CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify)) {
    log->Add(level, "Nested signature does not verify: " + LastErrorText() + "\n");
    return false;
  }

  base::ScopedCertChain chain = GetChain(certificate, store);
  if (!chain.IsValid()) {
    log->Add(level, "Cannot get trust chain\n");
    return false;
  }
  const base::Result<> trusted = chain_policy_check(chain.Get());
  if (!trusted.ok()) {
    log->Add(level, base::StringPrintf("Nested signer chain does not verify: %lu\n",
                                       static_cast<unsigned long>(trusted.failure().error)));
    return false;
  }

  const std::vector<uint8_t> content = GetMessageParam(message, CMSG_CONTENT_PARAM, 0);
  SPC_INDIRECT_DATA_CONTENT* indirect = nullptr;
  DWORD indirect_size = 0;
  if (content.empty() ||
      !CryptDecodeObjectEx(encoding, SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
                           static_cast<DWORD>(content.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                           &indirect, &indirect_size)) {
    log->Add(level, "Cannot read the nested signature's file digest\n");
    return false;
  }
  base::ScopedLocalAlloc<SPC_INDIRECT_DATA_CONTENT> owned_indirect(indirect);
  const std::vector<uint8_t> digest = ImageDigest(path, indirect->DigestAlgorithm.pszObjId);
  if (digest.empty() || digest.size() != indirect->Digest.cbData ||
      memcmp(digest.data(), indirect->Digest.pbData, digest.size()) != 0) {
    log->Add(level, "Nested signature is not of this file\n");
    return false;
  }
  return true;
}

}  // namespace

base::Result<> CheckAuthenticodeChainPolicy(PCCERT_CHAIN_CONTEXT chain) {
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &policy, &status))
    return base::Failure{GetLastError(), 0, "CertVerifyCertificateChainPolicy", {}};
  if (status.dwError != 0) return base::Failure{status.dwError, 0, "chain policy", {}};
  return {};
}

void TextVerificationLog::Add(int level, const std::string& text) {
  text_ += "Level " + base::IntToString(level) + ": " + text;
}

bool HasSignatureDirectory(const base::FilePath& path, bool* is_signed) {
  base::MappedFile file;
  base::PeSecurityDirectory directory;
  if (!file.Initialize(path, base::MappedFile::READ_ONLY) ||
      !base::ReadPeSecurityDirectory(file.data(), file.length(), &directory)) {
    return false;
  }
  *is_signed = directory.size != 0;
  return true;
}

SignatureRule ThisBuildSignatureRule() { return SignatureRuleOfImage(GetModuleHandleW(nullptr)); }

SignatureRule SignatureRuleOfImage(const void* image) {
  // The headers are mapped as the loader found them; only their own region is read.
  MEMORY_BASIC_INFORMATION region = {};
  if (!image || VirtualQuery(image, &region, sizeof(region)) != sizeof(region) ||
      region.State != MEM_COMMIT || region.BaseAddress != image) {
    return SignatureRule::kRequired;
  }
  base::PeSecurityDirectory directory;
  if (!base::ReadPeSecurityDirectory(static_cast<const uint8_t*>(image), region.RegionSize,
                                     &directory) ||
      directory.size != 0) {
    return SignatureRule::kRequired;
  }
  return SignatureRule::kNotRequired;
}

bool AreSignaturesRequired(SignatureRule rule) {
  if (rule == SignatureRule::kRequired) return true;
  LOG(INFO) << "This installer is an unsigned build: the signature check is skipped";
  return false;
}

bool VerifyFileSignature(const base::FilePath& path, std::string* error,
                         ChainPolicyCheck chain_policy_check) {
  return VerifyFileSignatureBy(path, base::UTF8ToWide(GetExpectedSigner()), error,
                               chain_policy_check);
}

bool VerifyFileSignatureBy(const base::FilePath& path, const std::wstring& expected_signer,
                           std::string* error, ChainPolicyCheck chain_policy_check) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.value().c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG trust = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (trust != 0 && error) {
    *error += base::StringPrintf("Cannot WinVerifyTrust: %ld, %s\n", static_cast<long>(trust),
                                 LastErrorText().c_str());
  }

  DWORD encoding = 0;
  base::ScopedCertStore store;
  base::ScopedCryptMsg message;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.value().c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, nullptr, nullptr, store.Receive(), message.Receive(),
                        nullptr)) {
    if (error) *error += "Cannot CryptQueryObject:" + LastErrorText() + "\n";
    return false;
  }

  TextVerificationLog text_log;
  NullVerificationLog null_log;
  VerificationLog* log = error ? static_cast<VerificationLog*>(&text_log) : &null_log;
  const bool found = FindExpectedSigner(store.Get(), message.Get(), encoding, path,
                                        expected_signer, chain_policy_check, log, 0);
  if (error) *error += text_log.text();
  return trust == 0 && found;
}

bool FindExpectedSigner(HCERTSTORE store, HCRYPTMSG message, DWORD encoding,
                        const base::FilePath& path, const std::wstring& expected_signer,
                        ChainPolicyCheck chain_policy_check, VerificationLog* log, int level) {
  DWORD signer_count = 0;
  DWORD count_size = sizeof(signer_count);
  if (!CryptMsgGetParam(message, CMSG_SIGNER_COUNT_PARAM, 0, &signer_count, &count_size)) {
    log->Add(level, "Cannot get signer count\n");
    return false;
  }
  for (DWORD index = 0; index < signer_count; ++index) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, index, nullptr, &size)) {
      log->Add(level, "Cannot get signer size\n");
      continue;
    }
    const std::vector<uint8_t> info_bytes = GetMessageParam(message, CMSG_SIGNER_INFO_PARAM, index);
    if (info_bytes.empty()) {
      log->Add(level, "Cannot get signer info\n");
      continue;
    }
    const auto* info = reinterpret_cast<const CMSG_SIGNER_INFO*>(info_bytes.data());

    CERT_INFO subject = {};
    subject.Issuer = info->Issuer;
    subject.SerialNumber = info->SerialNumber;
    base::ScopedCertContext certificate(
        CertFindCertificateInStore(store, encoding, 0, CERT_FIND_SUBJECT_CERT, &subject, nullptr));
    if (!certificate.IsValid()) {
      log->Add(level, "Cannot find certificate info in store\n");
      continue;
    }
    if (log->records()) {
      log->Add(level, "Trust chain:");
      DescribeTrustChain(certificate.Get(), store, log, level);
    }

    const DWORD name_length = CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE,
                                                 0, nullptr, nullptr, 0);
    if (name_length <= 1) {
      log->Add(level, "Cert signer name has 0 size\n");
      continue;
    }
    std::wstring name(name_length, L'\0');
    if (CertGetNameStringW(certificate.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0],
                           name_length) != name_length) {
      log->Add(level, "Cannot get signer name\n");
      continue;
    }
    name.resize(name_length - 1);
    if (name == expected_signer &&
        (level == 0 || VerifyNestedSigner(message, index, certificate.Get(), store, encoding, path,
                                          chain_policy_check, log, level))) {
      return true;
    }

    log->Add(level, "Tried signer " + base::WideToUTF8(name) + "\n");
    for (DWORD a = 0; a < info->UnauthAttrs.cAttr; ++a) {
      const CRYPT_ATTRIBUTE& attribute = info->UnauthAttrs.rgAttr[a];
      if (strcmp(attribute.pszObjId, kNestedSignatureOid) != 0 || attribute.cValue == 0) continue;
      DWORD nested_encoding = 0;
      base::ScopedCertStore nested_store;
      base::ScopedCryptMsg nested_message;
      if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &attribute.rgValue[0],
                            CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                            &nested_encoding, nullptr, nullptr, nested_store.Receive(),
                            nested_message.Receive(), nullptr)) {
        continue;
      }
      if (FindExpectedSigner(nested_store.Get(), nested_message.Get(), encoding, path,
                             expected_signer, chain_policy_check, log, level + 1)) {
        return true;
      }
    }
  }
  log->Add(level, "Cannot find any viable signers\n");
  return false;
}

void DescribeTrustChain(PCCERT_CONTEXT certificate, HCERTSTORE store, VerificationLog* log,
                        int level) {
  base::ScopedCertChain chain = GetChain(certificate, store);
  if (!chain.IsValid()) {
    log->Add(level, "Cannot get trust chain\n");
    return;
  }
  PCCERT_CHAIN_CONTEXT context = chain.Get();
  // One entry each, so that every line carries its level.
  log->Add(level, base::StringPrintf("Chain trust status: %lu\n",
                                     static_cast<unsigned long>(context->TrustStatus.dwErrorStatus)));
  for (DWORD c = 0; c < context->cChain; ++c) {
    const CERT_SIMPLE_CHAIN* simple = context->rgpChain[c];
    for (DWORD j = 0; j < simple->cElement; ++j) {
      PCCERT_CONTEXT element = simple->rgpElement[j]->pCertContext;
      BYTE sha1[20] = {};
      DWORD sha1_size = sizeof(sha1);
      CryptHashCertificate(0, CALG_SHA1, 0, element->pbCertEncoded, element->cbCertEncoded, sha1,
                           &sha1_size);
      log->Add(level, base::StringPrintf("Chain %lu element: ", static_cast<unsigned long>(j)) +
                          DisplayName(element) + " " + base::HexEncode(sha1, sha1_size) + "\n");
    }
  }
}

}  // namespace installer
