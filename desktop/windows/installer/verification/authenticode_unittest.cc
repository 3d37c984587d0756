#include "desktop/windows/installer/verification/authenticode.h"

#include <stdlib.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/win/scoped_generic.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

// The signed files made at build time by tools/make-signing-testdata.sh.
base::FilePath SigningData(const char* name) {
  return testing::TestDataPath((std::string("signing/") + name).c_str());
}

// The chain check of a machine that trusts the test root. Under Wine no root can be added
// to the store that its chain engine trusts, and Wine's WinVerifyTrust accepts an
// untrusted root for the outer signature; nested signers' chains are held to the same: any
// root, but a valid chain.
base::Result<> TrustAnyRoot(PCCERT_CHAIN_CONTEXT chain) {
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &policy, &status))
    return base::Failure{GetLastError(), 0, "CertVerifyCertificateChainPolicy", {}};
  if (status.dwError != 0) return base::Failure{status.dwError, 0, "chain policy", {}};
  return {};
}

TEST(AuthenticodeTest, OnlyAVerifiedSignatureOfTheExpectedSignerPasses) {
  struct Case {
    const char* file;
    bool verified;
    // What the error text must hold.
    const char* error_part;
  } cases[] = {
      {"unsigned.exe", false, "Cannot CryptQueryObject:"},
      {"signed.exe", true, ""},
      {"other.exe", false, "Level 0: Tried signer Another Publisher Test Signer"},
      {"dual.exe", true, "Level 0: Tried signer Another Publisher Test Signer"},
      // The signer is found, but the file's digest no longer matches.
      {"tampered.exe", false, "Cannot WinVerifyTrust: "},
      // A nested signature must verify by itself.
      {"nested_corrupt.exe", false, "Level 1: Nested signature does not verify"},
      {"nested_forged.exe", false, "Level 1: Nested signature is not of this file"},
      {"package_signed.exe", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string error;
    EXPECT_EQ(c.verified, VerifyFileSignature(SigningData(c.file), &error, &TrustAnyRoot))
        << error;
    EXPECT_NE(std::string::npos, error.find(c.error_part)) << error;
    EXPECT_EQ(c.verified, VerifyFileSignature(SigningData(c.file), nullptr, &TrustAnyRoot));
  }
}

TEST(AuthenticodeTest, UnsignedFileReportsBothFailures) {
  std::string error;
  EXPECT_FALSE(VerifyFileSignature(SigningData("unsigned.exe"), &error, &TrustAnyRoot));
  EXPECT_EQ(0u, error.find("Cannot WinVerifyTrust: ")) << error;
  EXPECT_NE(std::string::npos, error.find("\nCannot CryptQueryObject:")) << error;
}

TEST(AuthenticodeTest, TamperedFileStillNamesItsSigner) {
  std::string error;
  EXPECT_FALSE(VerifyFileSignature(SigningData("tampered.exe"), &error, &TrustAnyRoot));
  // The search found the expected signer: nothing else was tried.
  EXPECT_EQ(std::string::npos, error.find("Tried signer")) << error;
  EXPECT_NE(std::string::npos, error.find("Level 0: Trust chain:Level 0: Chain trust status: "))
      << error;
  // Every element is an entry of its own.
  EXPECT_NE(std::string::npos, error.find("\nLevel 0: Chain 0 element: Velum Software Test Signer "))
      << error;
}

TEST(AuthenticodeTest, ExpectedSignerIsComparedExactly) {
  EXPECT_FALSE(VerifyFileSignatureBy(SigningData("signed.exe"), L"velum software test signer",
                                     nullptr, &TrustAnyRoot));
  EXPECT_FALSE(VerifyFileSignatureBy(SigningData("signed.exe"), L"Velum Software Test", nullptr,
                                     &TrustAnyRoot));
  EXPECT_TRUE(VerifyFileSignatureBy(SigningData("other.exe"), L"Another Publisher Test Signer",
                                    nullptr, &TrustAnyRoot));
}

TEST(AuthenticodeChainTest, OnlyTheCallersOwnCheckTrustsATestRoot) {
  // The nested signer of a dual-signed file counts only when its chain is trusted: the
  // system's policy refuses the test root, whatever check a call before was given.
  struct Call {
    ChainPolicyCheck check;  // null: the verifier's own
    bool by_signer;
    bool verified;
  } calls[] = {
      {nullptr, false, false}, {&TrustAnyRoot, false, true}, {nullptr, false, false},
      {&TrustAnyRoot, true, true}, {nullptr, true, false},
  };
  const base::FilePath dual = SigningData("dual.exe");
  for (const Call& call : calls) {
    SCOPED_TRACE(call.by_signer);
    SCOPED_TRACE(call.check ? "any root" : "the system's policy");
    std::string error;
    bool verified = false;
    if (call.by_signer) {
      verified = call.check ? VerifyFileSignatureBy(dual, L"Velum Software Test Signer", &error,
                                                    call.check)
                            : VerifyFileSignatureBy(dual, L"Velum Software Test Signer", &error);
    } else {
      verified = call.check ? VerifyFileSignature(dual, &error, call.check)
                            : VerifyFileSignature(dual, &error);
    }
    EXPECT_EQ(call.verified, verified) << error;
    EXPECT_EQ(call.verified,
              error.find("Level 1: Nested signer chain does not verify: ") == std::string::npos)
        << error;
  }
}

class SignatureRuleTest : public base::ScratchDirTest {
 protected:
  static void FreePage(void* page) { VirtualFree(page, 0, MEM_RELEASE); }

  // `file` mapped as the loader maps an image; the mapping outlives the file's handle.
  static base::ScopedMappedView MapImage(const base::FilePath& file) {
    const base::ScopedHandle handle(CreateFileW(file.value().c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    if (!handle.IsValid()) return base::ScopedMappedView();
    const base::ScopedHandle mapping(
        CreateFileMappingW(handle.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    if (!mapping.IsValid()) return base::ScopedMappedView();
    return base::ScopedMappedView(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  }
};

// The rule comes from the image in memory: a signed image requires signatures even once
// an unsigned file took its name (a running program's file can be renamed away and
// replaced); an unsigned image, this test's own included, does not; what is no image
// mapped there requires them.
TEST_F(SignatureRuleTest, TheMappedImageDecidesNotTheFileAtItsName) {
  const base::FilePath installer = Path(L"installer.exe");
  ASSERT_TRUE(base::CopyFile(SigningData("signed.exe"), installer));
  const base::ScopedMappedView signed_image = MapImage(installer);
  ASSERT_TRUE(signed_image.IsValid());
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(signed_image.Get()));
  ASSERT_TRUE(MoveFileW(installer.value().c_str(), Path(L"renamed.exe").value().c_str()));
  ASSERT_TRUE(base::CopyFile(SigningData("unsigned.exe"), installer));
  bool is_signed = true;
  ASSERT_TRUE(HasSignatureDirectory(installer, &is_signed));
  EXPECT_FALSE(is_signed);  // what a check by name would find
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(signed_image.Get()));

  const base::ScopedMappedView unsigned_image = MapImage(SigningData("unsigned.exe"));
  ASSERT_TRUE(unsigned_image.IsValid());
  EXPECT_EQ(SignatureRule::kNotRequired, SignatureRuleOfImage(unsigned_image.Get()));
  EXPECT_EQ(SignatureRule::kNotRequired, ThisBuildSignatureRule());

  const std::string heap(4096, '\0');
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(heap.data() + 16));
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(nullptr));

  // Headers that cannot be read at the start of a region require them too: a page with
  // no image in it, and one whose PE header would lie past the page.
  void* const page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(nullptr, page);
  const std::unique_ptr<void, decltype(&FreePage)> free_page(page, &FreePage);
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(page));
  auto* const bytes = static_cast<uint8_t*>(page);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[61] = 0x10;  // e_lfanew = 0x1000, the page's end
  EXPECT_EQ(SignatureRule::kRequired, SignatureRuleOfImage(page));
  EXPECT_TRUE(AreSignaturesRequired(SignatureRule::kRequired));
  EXPECT_FALSE(AreSignaturesRequired(SignatureRule::kNotRequired));
}

class HasSignatureDirectoryTest : public base::ScratchDirTest {};

TEST_F(HasSignatureDirectoryTest, ReadsTheDirectoryOfTheImagesKind) {
  bool is_signed = false;
  EXPECT_TRUE(HasSignatureDirectory(SigningData("signed.exe"), &is_signed));
  EXPECT_TRUE(is_signed);
  EXPECT_TRUE(HasSignatureDirectory(SigningData("unsigned.exe"), &is_signed));
  EXPECT_FALSE(is_signed);

  // A PE32 image keeps its security directory 16 bytes earlier; what lies at the PE32+
  // position there is another directory. The optional header's magic tells the format,
  // whatever the machine.
  struct Format {
    uint16_t machine;
    uint16_t magic;
    size_t size_field;  // from the PE header
  } formats[] = {
      {0x014C, 0x10B, 0x9C},
      {0x8664, 0x20B, 0xAC},
      {0x8664, 0x10B, 0x9C},
      {0x014C, 0x20B, 0xAC},
      {0xAA64, 0x20B, 0xAC},
  };
  std::string image(0x200, '\0');
  const base::FilePath file = Path(L"image.exe");
  for (const Format& format : formats) {
    SCOPED_TRACE(format.machine);
    SCOPED_TRACE(format.magic);
    image.assign(0x200, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[60] = 0x80;
    image.replace(0x80, 4, std::string("PE\0\0", 4));
    image[0x84] = static_cast<char>(format.machine & 0xFF);
    image[0x85] = static_cast<char>(format.machine >> 8);
    image[0x80 + 24] = static_cast<char>(format.magic & 0xFF);
    image[0x80 + 25] = static_cast<char>(format.magic >> 8);
    // The other format's position holds a size.
    image[0x80 + (format.size_field == 0x9C ? 0xAC : 0x9C)] = 0x10;
    ASSERT_EQ(static_cast<int>(image.size()),
              base::WriteFile(file, image.data(), static_cast<int>(image.size())));
    is_signed = true;
    EXPECT_TRUE(HasSignatureDirectory(file, &is_signed));
    EXPECT_FALSE(is_signed);
    image[0x80 + format.size_field] = 0x10;
    ASSERT_EQ(static_cast<int>(image.size()),
              base::WriteFile(file, image.data(), static_cast<int>(image.size())));
    EXPECT_TRUE(HasSignatureDirectory(file, &is_signed));
    EXPECT_TRUE(is_signed);
  }
  // The last image, as a PE32 one.
  image[0x80 + 24] = 0x0B;
  image[0x80 + 25] = 0x01;

  // Headers cut short before the directory, or no PE image at all: false, untouched.
  struct Case {
    const wchar_t* name;
    std::string contents;
  } cases[] = {
      {L"short.exe", image.substr(0, 0x80 + 0x9C)},
      {L"no_magic.exe", image.substr(0, 0x80 + 24) + std::string(0x100, '\0')},
      {L"text.txt", "just text, no image"},
      {L"empty.exe", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    base::FilePath path = Path(c.name);
    ASSERT_EQ(static_cast<int>(c.contents.size()),
              base::WriteFile(path, c.contents.data(), static_cast<int>(c.contents.size())));
    is_signed = true;
    EXPECT_FALSE(HasSignatureDirectory(path, &is_signed));
    EXPECT_TRUE(is_signed);
  }
  EXPECT_FALSE(HasSignatureDirectory(Path(L"missing.exe"), &is_signed));
}

}  // namespace
}  // namespace installer
