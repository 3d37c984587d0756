// The three libraries we compile from Debian's packages, called the way the product does.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/mem.h>
#include <openssl/sha.h>
#include <zlib.h>

#include "lzma/7z.h"
#include "lzma/7zAlloc.h"
#include "lzma/7zCrc.h"

namespace {

std::string Hex(const uint8_t* digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < SHA256_DIGEST_LENGTH; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

std::string Sha256Chunked(const std::string& data, size_t chunk) {
  SHA256_CTX context;
  EXPECT_EQ(SHA256_Init(&context), 1);
  for (size_t offset = 0; offset < data.size(); offset += chunk)
    SHA256_Update(&context, data.data() + offset, std::min(chunk, data.size() - offset));
  uint8_t digest[SHA256_DIGEST_LENGTH];
  EXPECT_EQ(SHA256_Final(digest, &context), 1);
  return Hex(digest);
}

TEST(BoringSslSha256, Fips180Vectors) {
  EXPECT_EQ(Sha256Chunked("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Chunked("", 1),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  const std::string million(1000000, 'a');
  // Uneven chunks cross the 64-byte block boundary in every phase.
  for (size_t chunk : {size_t{1000000}, size_t{63}, size_t{4097}}) {
    EXPECT_EQ(Sha256Chunked(million, chunk),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
        << chunk;
  }
}

TEST(BoringSslSha256, CleanseZeroesMemory) {
  uint8_t secret[37];
  std::memset(secret, 0xA5, sizeof secret);
  OPENSSL_cleanse(secret, sizeof secret);
  for (uint8_t byte : secret) ASSERT_EQ(byte, 0);
}

TEST(Zlib, GzipStreamInflatesBack) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  z_stream stream{};
  // 15 + 16 window bits: a gzip wrapper, as crash-report bodies are sent.
  ASSERT_EQ(deflateInit2_(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                          Z_DEFAULT_STRATEGY, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))),
            Z_OK);
  std::vector<unsigned char> packed(deflateBound(&stream, static_cast<uLong>(text.size())));
  stream.next_in = reinterpret_cast<Bytef*>(&text[0]);
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = packed.data();
  stream.avail_out = static_cast<uInt>(packed.size());
  ASSERT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  packed.resize(stream.total_out);
  ASSERT_EQ(deflateEnd(&stream), Z_OK);
  ASSERT_GT(packed.size(), 2u);
  EXPECT_EQ(packed[0], 0x1f);
  EXPECT_EQ(packed[1], 0x8b);
  EXPECT_STREQ(zError(Z_DATA_ERROR), "data error");

  z_stream inflater{};
  ASSERT_EQ(inflateInit2(&inflater, 15 + 16), Z_OK);
  std::string back(text.size() + 1, '\0');
  inflater.next_in = packed.data();
  inflater.avail_in = static_cast<uInt>(packed.size());
  inflater.next_out = reinterpret_cast<Bytef*>(&back[0]);
  inflater.avail_out = static_cast<uInt>(back.size());
  EXPECT_EQ(inflate(&inflater, Z_FINISH), Z_STREAM_END);
  back.resize(inflater.total_out);
  inflateEnd(&inflater);
  EXPECT_EQ(back, text);
}

std::string TestData() {
  const char* dir = std::getenv("VELUM_TESTDATA");
  return dir ? dir : "testdata";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Decodes every file of an archive held in memory; names in UTF-8 with "/".
struct Decoded {
  SRes open = SZ_OK;
  SRes extract = SZ_OK;
  std::map<std::string, std::string> files;
};

struct MemoryStream {
  ISeekInStream vt;
  const std::string* data;
  size_t position;
};

SRes MemoryRead(ISeekInStreamPtr p, void* buffer, size_t* size) {
  auto* self = reinterpret_cast<MemoryStream*>(const_cast<ISeekInStream*>(p));
  size_t count = std::min(*size, self->data->size() - self->position);
  std::memcpy(buffer, self->data->data() + self->position, count);
  self->position += count;
  *size = count;
  return SZ_OK;
}

SRes MemorySeek(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  auto* self = reinterpret_cast<MemoryStream*>(const_cast<ISeekInStream*>(p));
  Int64 base = origin == SZ_SEEK_SET   ? 0
               : origin == SZ_SEEK_CUR ? static_cast<Int64>(self->position)
                                       : static_cast<Int64>(self->data->size());
  Int64 target = base + *position;
  if (target < 0 || target > static_cast<Int64>(self->data->size())) return SZ_ERROR_PARAM;
  self->position = static_cast<size_t>(target);
  *position = target;
  return SZ_OK;
}

Decoded DecodeAll(const std::string& archive) {
  static const ISzAlloc kAlloc = {SzAlloc, SzFree};
  CrcGenerateTable();
  Decoded result;
  MemoryStream stream{{MemoryRead, MemorySeek}, &archive, 0};
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  std::vector<Byte> lookBuffer(1 << 16);
  look.buf = lookBuffer.data();
  look.bufSize = lookBuffer.size();
  look.realStream = &stream.vt;
  LookToRead2_INIT(&look);
  CSzArEx db;
  SzArEx_Init(&db);
  result.open = SzArEx_Open(&db, &look.vt, &kAlloc, &kAlloc);
  if (result.open == SZ_OK) {
    UInt32 blockIndex = 0xFFFFFFFF;
    Byte* out = nullptr;
    size_t outSize = 0;
    for (UInt32 i = 0; i < db.NumFiles && result.extract == SZ_OK; ++i) {
      size_t nameLength = SzArEx_GetFileNameUtf16(&db, i, nullptr);
      std::vector<UInt16> name(nameLength);
      SzArEx_GetFileNameUtf16(&db, i, name.data());
      int bytes = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<wchar_t*>(name.data()), -1,
                                      nullptr, 0, nullptr, nullptr);
      std::string utf8(bytes > 0 ? bytes - 1 : 0, '\0');
      WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<wchar_t*>(name.data()), -1, &utf8[0],
                          bytes, nullptr, nullptr);
      if (SzArEx_IsDir(&db, i)) continue;
      size_t offset = 0, processed = 0;
      result.extract = SzArEx_Extract(&db, &look.vt, i, &blockIndex, &out, &outSize, &offset,
                                      &processed, &kAlloc, &kAlloc);
      if (result.extract == SZ_OK)
        result.files[utf8] = std::string(reinterpret_cast<char*>(out) + offset, processed);
    }
    ISzAlloc_Free(&kAlloc, out);
  }
  SzArEx_Free(&db, &kAlloc);
  return result;
}

class SevenZip : public ::testing::TestWithParam<const char*> {};

TEST_P(SevenZip, ListsAndExtractsFilesEqualToTheirSources) {
  const std::string archive = ReadAll(TestData() + "/" + GetParam());
  ASSERT_FALSE(archive.empty()) << GetParam();
  Decoded decoded = DecodeAll(archive);
  ASSERT_EQ(decoded.open, SZ_OK);
  ASSERT_EQ(decoded.extract, SZ_OK);
  // manifest.sha256 lines: "<digest>  ./<path>"
  std::ifstream manifest(TestData() + "/manifest.sha256");
  std::string line;
  size_t listed = 0;
  while (std::getline(manifest, line)) {
    // The manifest's digests come from Linux sha256sum over the source files.
    const std::string path = line.substr(line.find("./") + 2);
    auto it = decoded.files.find(path);
    ASSERT_NE(it, decoded.files.end()) << path;
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const uint8_t*>(it->second.data()), it->second.size(), digest);
    EXPECT_EQ(Hex(digest), line.substr(0, 64)) << path;
    ++listed;
  }
  EXPECT_EQ(listed, decoded.files.size());
  EXPECT_GE(listed, 5u);
}

INSTANTIATE_TEST_SUITE_P(Coders, SevenZip,
                         ::testing::Values("lzma2.7z", "lzma.7z", "copy.7z", "bcj2.7z"));

TEST(SevenZipErrors, DamagedArchivesFailCleanly) {
  const std::string archive = ReadAll(TestData() + "/lzma2.7z");
  ASSERT_GT(archive.size(), 1000u);
  EXPECT_NE(DecodeAll(archive.substr(0, archive.size() / 2)).open, SZ_OK);
  std::string corrupted = archive;
  corrupted[40] ^= 0x55;  // inside the first packed stream
  Decoded decoded = DecodeAll(corrupted);
  EXPECT_EQ(decoded.open, SZ_OK);
  EXPECT_NE(decoded.extract, SZ_OK);
  EXPECT_EQ(DecodeAll(std::string(100, 'x')).open, SZ_ERROR_NO_ARCHIVE);
}

}  // namespace
