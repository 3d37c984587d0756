#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"

namespace installer {
namespace {

using testing::ReadAll;

using base::FilePath;

const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kMachineI386 = 0x014C;
const uint32_t kPeHeader = 0x80;
const std::string kPackage = std::string("7z\xBC\xAF\x27\x1C", 6) + "archive body";
const std::string kCertificate(40, 'C');

std::string U32(uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

void PutBytes(std::string* image, size_t at, const std::string& bytes) {
  image->replace(at, bytes.size(), bytes);
}

// A bare PE image: just the fields the reader looks at.
std::string PeImage(uint16_t machine) {
  std::string image(0x200, '\0');
  PutBytes(&image, 0, "MZ");
  PutBytes(&image, 60, U32(kPeHeader));
  PutBytes(&image, kPeHeader, std::string("PE\0\0", 4));
  PutBytes(&image, kPeHeader + 4, U32(machine).substr(0, 2));
  // The optional header's format as the machine's compilers make it.
  PutBytes(&image, kPeHeader + 24, U32(machine == kMachineI386 ? 0x10B : 0x20B).substr(0, 2));
  return image;
}

void SetSecurityDirectory(std::string* image, uint16_t machine, uint32_t offset,
                          uint32_t size) {
  const size_t directory = kPeHeader + (machine == kMachineI386 ? 0x98 : 0xA8);
  PutBytes(image, directory, U32(offset) + U32(size));
}

std::string Block(const std::string& payload) {
  return "VLM" + payload + U32(static_cast<uint32_t>(payload.size()));
}

// An unsigned image, padded so that with |block| it fills two pages, then the security
// directory pointed |past_end| bytes past the file's end: a read past the mapping faults.
std::string PageSizedWithCertificatePastTheEnd(const std::string& block, uint32_t past_end) {
  const uint32_t kFileSize = 8192;
  std::string image = PeImage(kMachineAmd64);
  image.resize(kFileSize - block.size(), '\0');
  SetSecurityDirectory(&image, kMachineAmd64, kFileSize + past_end, 8);
  return image + block;
}

// A signed image with |before| between the image and the certificate table and |after|
// following the table.
std::string Signed(uint16_t machine, const std::string& before, const std::string& after) {
  std::string image = PeImage(machine);
  SetSecurityDirectory(&image, machine, static_cast<uint32_t>(image.size() + before.size()),
                       static_cast<uint32_t>(kCertificate.size()));
  return image + before + kCertificate + after;
}

class PayloadReaderTest : public base::ScratchDirTest {
 protected:
  // A reader keeps its file mapped, so a file still being read needs another name.
  FilePath WriteBinary(const std::string& contents, const wchar_t* name = L"installer.exe") {
    return Write(name, contents);
  }
};

TEST_F(PayloadReaderTest, ClassifiesWellFormedFiles) {
  const std::string unsigned_image = PeImage(kMachineAmd64);
  struct Case {
    const char* name;
    std::string contents;
    int type;
    std::string tracking_data;
  } cases[] = {
      {"unsigned tracking", unsigned_image + Block("origin=mail"), 1, "origin=mail"},
      {"unsigned package", unsigned_image + Block(kPackage), 3, ""},
      {"empty tracking", unsigned_image + Block(""), 1, ""},
      {"short tracking", unsigned_image + Block("7z"), 1, "7z"},
      {"no payload", unsigned_image, 0, ""},
      {"tracking after signature", Signed(kMachineAmd64, "", Block("t1")), 1, "t1"},
      {"package after signature", Signed(kMachineAmd64, "", Block(kPackage)), 0, ""},
      {"package under signature", Signed(kMachineAmd64, Block(kPackage), ""), 3, ""},
      {"tracking under signature", Signed(kMachineAmd64, Block("t2"), ""), 1, "t2"},
      {"32-bit package under signature", Signed(kMachineI386, Block(kPackage), ""), 3, ""},
      {"signed without payload", Signed(kMachineAmd64, "", ""), 0, ""},
      // Not past the end yet: the block before it is the one at the end.
      {"certificate table starting at the end",
       PageSizedWithCertificatePastTheEnd(Block("t3"), 0), 1, "t3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PayloadReader reader(WriteBinary(c.contents));
    EXPECT_EQ(c.type, reader.type());
    EXPECT_EQ(c.tracking_data, reader.GetTrackingData());
  }
}

TEST_F(PayloadReaderTest, MalformedFilesFailCleanly) {
  const std::string image = PeImage(kMachineAmd64);
  std::string pe_offset_past_end = image;
  PutBytes(&pe_offset_past_end, 60, U32(0xFFFFFFF0));
  std::string pe_offset_at_last_bytes = image;
  PutBytes(&pe_offset_at_last_bytes, 60, U32(static_cast<uint32_t>(image.size() - 4)));
  PutBytes(&pe_offset_at_last_bytes, image.size() - 4, std::string("PE\0\0", 4));
  std::string certificate_past_end = image;
  SetSecurityDirectory(&certificate_past_end, kMachineAmd64, 0x10000, 8);
  std::string certificate_at_start = image;
  SetSecurityDirectory(&certificate_at_start, kMachineAmd64, 2, 8);
  std::string wrong_marker = image + Block("tracking");
  wrong_marker[image.size() + 2] = 'N';

  struct Case {
    const char* name;
    std::string contents;
    int type;
  } cases[] = {
      {"empty file, nothing to map", "", 0},
      {"no MZ", "XZ" + image.substr(2) + Block("t"), 4},
      {"too short for the PE offset", "MZ" + std::string(20, '\0'), 4},
      {"no PE signature", image.substr(0, kPeHeader) + std::string(0x180, 'x'), 4},
      {"PE offset past the end", pe_offset_past_end, 4},
      // The signature fits but the security directory would lie past the end.
      {"header cut short", pe_offset_at_last_bytes, 4},
      {"certificate table past the end", certificate_past_end, 4},
      // The trailer before it would be cut one byte short by the end of the file.
      {"certificate table one byte past the end",
       PageSizedWithCertificatePastTheEnd("", 1), 4},
      {"certificate table before any trailer", certificate_at_start, 0},
      {"length larger than the data before it", image + "VLM" + U32(0x1000), 0},
      {"length reaching before the file", image + "VLM" + U32(0xFFFFFFFF), 0},
      {"length one past the marker", image + Block("abc").substr(0, 3 + 3) + U32(4), 0},
      {"wrong marker", wrong_marker, 0},
      {"trailer truncated", (image + Block("tracking")).substr(0, image.size() + 12), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PayloadReader reader(WriteBinary(c.contents));
    EXPECT_EQ(c.type, reader.type());
    EXPECT_EQ("", reader.GetTrackingData());
    EXPECT_FALSE(reader.WritePayloadToFile(Path(L"out.bin")));
  }
  EXPECT_FALSE(base::PathExists(Path(L"out.bin")));
}

TEST_F(PayloadReaderTest, WritesThePackageOrTheTrackingData) {
  struct Case {
    std::string contents;
    std::string written;
  } cases[] = {
      {PeImage(kMachineAmd64) + Block(kPackage), kPackage},
      {Signed(kMachineAmd64, Block(kPackage), ""), kPackage},
      {PeImage(kMachineAmd64) + Block("origin"), "origin"},
  };
  for (const Case& c : cases) {
    PayloadReader reader(WriteBinary(c.contents));
    // An existing file is replaced, not appended to.
    ASSERT_TRUE(base::WriteFile(Path(L"out.7z"), "old contents that are longer", 28) == 28);
    EXPECT_TRUE(reader.WritePayloadToFile(Path(L"out.7z")));
    std::string written;
    EXPECT_TRUE(base::ReadFileToString(Path(L"out.7z"), &written));
    EXPECT_EQ(c.written, written);
  }
  PayloadReader reader(WriteBinary(PeImage(kMachineAmd64) + Block(kPackage)));
  EXPECT_FALSE(reader.WritePayloadToFile(Path(L"no such folder\\out.7z")));
}

TEST_F(PayloadReaderTest, ExternalTrackingDataWins) {
  const std::string files[] = {
      PeImage(kMachineAmd64) + Block("from file"), PeImage(kMachineAmd64) + Block(kPackage),
      PeImage(kMachineAmd64), "not an image"};
  for (const std::string& contents : files) {
    PayloadReader reader(WriteBinary(contents));
    reader.SetExternalTrackingData("injected");
    EXPECT_EQ(PayloadReader::EXTERNAL_TRACKING_DATA, reader.type());
    EXPECT_EQ("injected", reader.GetTrackingData());
    EXPECT_TRUE(reader.WritePayloadToFile(Path(L"out.bin")));
    std::string written;
    EXPECT_TRUE(base::ReadFileToString(Path(L"out.bin"), &written));
    EXPECT_EQ("injected", written);
  }

  // Empty injected data falls back to the file's tracking data, never to a package.
  PayloadReader tracking(WriteBinary(PeImage(kMachineAmd64) + Block("from file")));
  tracking.SetExternalTrackingData("");
  EXPECT_EQ("from file", tracking.GetTrackingData());
  PayloadReader package(WriteBinary(PeImage(kMachineAmd64) + Block(kPackage), L"package.exe"));
  package.SetExternalTrackingData("");
  EXPECT_EQ("", package.GetTrackingData());
}

TEST_F(PayloadReaderTest, RealExecutableWithAppendedTrackingData) {
  wchar_t module[MAX_PATH];
  ASSERT_NE(0u, GetModuleFileNameW(nullptr, module, MAX_PATH));
  std::string executable;
  ASSERT_TRUE(base::ReadFileToString(FilePath(module), &executable));
  EXPECT_EQ(PayloadReader::PAYLOAD_NONE, PayloadReader(FilePath(module)).type());

  PayloadReader reader(WriteBinary(executable + Block("real exe")));
  EXPECT_EQ(PayloadReader::TRACKING_DATA, reader.type());
  EXPECT_EQ("real exe", reader.GetTrackingData());
}

// Installers made at build time: the stand-in + padding + "VLM" + 7z archive + length,
// once signed by osslsigncode, which puts the certificate table right after the block.
TEST_F(PayloadReaderTest, SignedAndUnsignedFullPackageInstallers) {
  const std::string archive = ReadAll(testing::TestDataPath("signing/package.7z"));
  for (const char* name : {"package_unsigned.exe", "package_signed.exe"}) {
    SCOPED_TRACE(name);
    PayloadReader reader(testing::TestDataPath((std::string("signing/") + name).c_str()));
    EXPECT_EQ(PayloadReader::FULL_PACKAGE, reader.type());
    const FilePath out = Path(L"package.7z");
    ASSERT_TRUE(reader.WritePayloadToFile(out));
    EXPECT_TRUE(ReadAll(out) == archive);
  }

  // Appended after the signature, the package is not covered by it.
  std::string signed_installer = ReadAll(testing::TestDataPath("signing/package_signed.exe"));
  signed_installer += "VLM" + archive;
  signed_installer += U32(static_cast<uint32_t>(archive.size()));
  const FilePath appended = Path(L"appended.exe");
  ASSERT_EQ(static_cast<int>(signed_installer.size()),
            base::WriteFile(appended, signed_installer.data(),
                            static_cast<int>(signed_installer.size())));
  EXPECT_EQ(PayloadReader::PAYLOAD_NONE, PayloadReader(appended).type());
}

size_t WorkingSetBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)));
  return counters.WorkingSetSize;
}

// Writing a package out read it through the mapped view, whose pages then stayed in the
// working set: memory grew with the package. Odd-sized, so the copy ends mid-chunk.
TEST_F(PayloadReaderTest, AWrittenPackageLeavesNoPagesInMemory) {
  const size_t kPackageSize = (48 << 20) + 4099;
  FilePath installer;
  {
    std::string package = kPackage;
    package.resize(kPackageSize);
    for (size_t i = kPackage.size(); i < package.size(); ++i)
      package[i] = static_cast<char>(i * 2654435761u >> 13);
    installer = WriteBinary(PeImage(kMachineAmd64) + Block(package));
  }
  PayloadReader reader(installer);
  ASSERT_EQ(PayloadReader::FULL_PACKAGE, reader.type());
  const size_t before = WorkingSetBytes();
  ASSERT_TRUE(reader.WritePayloadToFile(Path(L"out.7z")));
  const size_t after = WorkingSetBytes();
  EXPECT_LT(after, before + (8 << 20)) << before << " -> " << after;
  const std::string image = ReadAll(installer);
  EXPECT_TRUE(ReadAll(Path(L"out.7z")) == image.substr(PeImage(kMachineAmd64).size() + 3,
                                                        kPackageSize));
}

TEST(PayloadTypeToStringTest, NamesEveryType) {
  const char* names[] = {"none", "tracking_data", "external_tracking_data", "full_package",
                         "corrupted"};
  for (int type = 0; type < 5; ++type)
    EXPECT_EQ(names[type], PayloadReader::PayloadTypeToString(type));
  EXPECT_EQ("", PayloadReader::PayloadTypeToString(-1));
  EXPECT_EQ("", PayloadReader::PayloadTypeToString(5));
}

}  // namespace
}  // namespace installer
