#include "base/win/pe_image.h"

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/test/guarded_buffer_test_util.h"

namespace base {
namespace {

const uint16_t kMachineI386 = 0x014C;
const uint16_t kMachineAmd64 = 0x8664;
const size_t kPeHeader = 0x40;

void PutLittleEndian(std::string* image, size_t at, uint32_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) (*image)[at + i] = static_cast<char>(value >> (8 * i));
}

// The headers up to and including the security directory entry, nothing after it.
std::string PeHeaders(uint16_t machine) {
  const size_t entry = kPeHeader + (machine == kMachineI386 ? 0x98 : 0xA8);
  std::string image(entry + 8, '\0');
  image.replace(0, 2, "MZ");
  PutLittleEndian(&image, 60, kPeHeader, 4);
  image.replace(kPeHeader, 4, std::string("PE\0\0", 4));
  PutLittleEndian(&image, kPeHeader + 4, machine, 2);
  // The optional header's format as the machine's compilers make it.
  PutLittleEndian(&image, kPeHeader + 24, machine == kMachineI386 ? 0x10B : 0x20B, 2);
  PutLittleEndian(&image, entry, 0x1234, 4);
  PutLittleEndian(&image, entry + 4, 0x56, 4);
  return image;
}

// Every read below sees data that ends at an inaccessible page: a read of one byte too
// many faults instead of passing.
TEST(PeImageTest, FieldsCutOneByteShortAreRefusedWithoutReadingPastTheEnd) {
  const std::string bytes = "\x01\x02\x03\x04\x05\x06\x07";
  base::GuardedBuffer guarded(bytes.size());
  const size_t length = bytes.size();
  const uint8_t* data = reinterpret_cast<const uint8_t*>(guarded.Assign(bytes.data(), length));
  const struct {
    size_t size;  // of the field read
    uint64_t offset;
    bool fits;
  } cases[] = {
      {2, length - 2, true},  {2, length - 1, false}, {2, length, false},
      {2, length + 1, false}, {4, length - 4, true},  {4, length - 3, false},
      {4, length, false},     {4, length + 1, false}, {3, length - 3, true},
      {3, length - 2, false}, {0, length, true},      {1, length, false},
      {2, UINT64_MAX, false}, {4, UINT64_MAX - 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes at " + std::to_string(c.offset));
    // Each field that fits is the last bytes of the data.
    if (c.size == 2) {
      uint16_t value = 0;
      EXPECT_EQ(c.fits, ReadLittleEndian16(data, length, c.offset, &value));
      EXPECT_EQ(c.fits ? 0x0706u : 0u, value);
    }
    if (c.size == 4) {
      uint32_t value = 0;
      EXPECT_EQ(c.fits, ReadLittleEndian32(data, length, c.offset, &value));
      EXPECT_EQ(c.fits ? 0x07060504u : 0u, value);
    }
    EXPECT_EQ(c.fits, BytesAt(data, length, c.offset, bytes.data() + length - c.size, c.size));
  }
}

// Calls |check| with every cut of |image|, from none of it to all of it, each in a
// guarded buffer that ends where the cut does; |whole| tells the full image.
void ForEveryCut(const std::string& image,
                 const std::function<void(const uint8_t* data, size_t length, bool whole)>& check) {
  base::GuardedBuffer guarded(image.size());
  for (size_t length = 0; length <= image.size(); ++length) {
    SCOPED_TRACE(length);
    check(reinterpret_cast<const uint8_t*>(guarded.Assign(image.data(), length)), length,
          length == image.size());
  }
}

TEST(PeImageTest, EveryCutOfTheHeadersIsRefused) {
  for (uint16_t machine : {kMachineI386, kMachineAmd64}) {
    SCOPED_TRACE(machine);
    ForEveryCut(PeHeaders(machine), [](const uint8_t* data, size_t length, bool whole) {
      PeSecurityDirectory directory;
      directory.offset = 0xAAAA;
      EXPECT_EQ(whole, ReadPeSecurityDirectory(data, length, &directory));
      EXPECT_EQ(whole ? 0x1234u : 0xAAAAu, directory.offset);
      EXPECT_EQ(whole ? 0x56u : 0u, directory.size);
    });
  }
}

// Headers of an AMD64 image with an optional header of |optional_size| bytes and a table
// of two sections, ".text" and ".thunks" (a full 8-byte name next to an unpadded one).
std::string ImageWithSections(uint16_t optional_size) {
  const size_t table = kPeHeader + 24 + optional_size;
  std::string image(table + 2 * 40, '\0');
  image.replace(0, 2, "MZ");
  PutLittleEndian(&image, 60, kPeHeader, 4);
  image.replace(kPeHeader, 4, std::string("PE\0\0", 4));
  PutLittleEndian(&image, kPeHeader + 4, kMachineAmd64, 2);
  PutLittleEndian(&image, kPeHeader + 6, 2, 2);
  PutLittleEndian(&image, kPeHeader + 20, optional_size, 2);
  image.replace(table, 5, ".text");
  image.replace(table + 40, 8, ".thunksX");
  return image;
}

TEST(PeImageTest, HeaderGivesTheMachineAndEveryCutIsRefused) {
  const std::string image = PeHeaders(kMachineI386).substr(0, kPeHeader + 6);
  ForEveryCut(image, [](const uint8_t* data, size_t length, bool whole) {
    PeHeader header;
    EXPECT_EQ(whole, ReadPeHeader(data, length, &header));
    EXPECT_EQ(whole ? kPeHeader : 0u, header.offset);
    EXPECT_EQ(whole ? kMachineI386 : 0u, header.machine);
  });
  PeHeader header;
  EXPECT_FALSE(ReadPeHeader(nullptr, 0, &header));
  // A header offset far past the data (and one that wraps when the signature is added).
  for (uint32_t offset : {0x7FFFFFFFu, 0xFFFFFFFEu}) {
    std::string far = image;
    PutLittleEndian(&far, 60, offset, 4);
    EXPECT_FALSE(ReadPeHeader(reinterpret_cast<const uint8_t*>(far.data()), far.size(), &header));
  }
}

TEST(PeImageTest, SectionNamesAreReadAndEveryCutOfTheTableIsRefused) {
  for (uint16_t optional_size : {0, 0xF0}) {
    SCOPED_TRACE(optional_size);
    ForEveryCut(ImageWithSections(optional_size), [](const uint8_t* data, size_t length,
                                                     bool whole) {
      std::vector<std::string> names = {"kept"};
      EXPECT_EQ(whole, ReadPeSectionNames(data, length, &names));
      EXPECT_EQ(whole ? std::vector<std::string>({".text", ".thunksX"})
                      : std::vector<std::string>({"kept"}),
                names);
    });
  }
}

// Headers of an image with three sections: data up to 0x600, a .bss-like section with no
// file data and a bogus pointer, then data up to 0x700. The data ends with the last field
// read, the third section's raw data pointer.
std::string ImageWithSectionData() {
  const size_t table = kPeHeader + 24 + 0xF0;
  std::string image(table + 3 * 40, '\0');
  image.replace(0, 2, "MZ");
  PutLittleEndian(&image, 60, kPeHeader, 4);
  image.replace(kPeHeader, 4, std::string("PE\0\0", 4));
  PutLittleEndian(&image, kPeHeader + 4, kMachineAmd64, 2);
  PutLittleEndian(&image, kPeHeader + 6, 3, 2);
  PutLittleEndian(&image, kPeHeader + 20, 0xF0, 2);
  PutLittleEndian(&image, kPeHeader + 24 + 60, 0x400, 4);
  const uint32_t raw[3][2] = {{0x200, 0x400}, {0, 0xFFFFFFF0}, {0x100, 0x600}};
  for (size_t i = 0; i < 3; ++i) {
    PutLittleEndian(&image, table + i * 40 + 16, raw[i][0], 4);
    PutLittleEndian(&image, table + i * 40 + 20, raw[i][1], 4);
  }
  image.resize(table + 2 * 40 + 24);
  return image;
}

// The end is that of the last section's data, never a section without data, and the
// headers' size when no section reaches past it; a table cut anywhere is refused.
TEST(PeImageTest, ImageEndsAfterTheLastSectionData) {
  const std::string image = ImageWithSectionData();
  ForEveryCut(image, [](const uint8_t* data, size_t length, bool whole) {
    uint64_t end = 0xAAAA;
    EXPECT_EQ(whole, ReadPeImageEnd(data, length, &end));
    EXPECT_EQ(whole ? 0x700u : 0xAAAAu, end);
  });
  std::string small = image;
  PutLittleEndian(&small, kPeHeader + 24 + 60, 0x800, 4);
  uint64_t end = 0;
  ASSERT_TRUE(ReadPeImageEnd(reinterpret_cast<const uint8_t*>(small.data()), small.size(), &end));
  EXPECT_EQ(0x800u, end);
}

}  // namespace
}  // namespace base
