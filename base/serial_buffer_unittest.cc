#include "base/serial_buffer.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/test/guarded_buffer_test_util.h"

namespace base {
namespace {

std::vector<uint8_t> Bytes(const SerialBuffer& buffer) {
  const uint8_t* data = static_cast<const uint8_t*>(buffer.data());
  return std::vector<uint8_t>(data, data + buffer.size());
}

struct LayoutCase {
  const char* name;
  void (*write)(SerialBuffer* buffer);
  std::vector<uint8_t> expected;
};

TEST(SerialBufferTest, FieldLayouts) {
  const LayoutCase cases[] = {
      {"nothing", [](SerialBuffer*) {}, {0, 0, 0, 0}},
      {"int", [](SerialBuffer* b) { b->WriteInt(7); }, {4, 0, 0, 0, 7, 0, 0, 0}},
      {"narrow string", [](SerialBuffer* b) { b->WriteString("abc"); },
       {8, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"empty string", [](SerialBuffer* b) { b->WriteString(""); }, {4, 0, 0, 0, 0, 0, 0, 0}},
      {"string of four", [](SerialBuffer* b) { b->WriteString("abcd"); },
       {8, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 'd'}},
      {"wide string", [](SerialBuffer* b) { b->WriteWideString(L"ab"); },
       {8, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 'b', 0}},
      {"wide string of one unit", [](SerialBuffer* b) { b->WriteWideString(L"\x20AC"); },
       {8, 0, 0, 0, 1, 0, 0, 0, 0xAC, 0x20, 0, 0}},
      {"claimed bytes",
       [](SerialBuffer* b) { memset(b->ClaimBytes(5), 0xAA, 5); },
       {8, 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0, 0, 0}},
      {"fields in a row",
       [](SerialBuffer* b) {
         b->WriteString("x");
         b->WriteInt(1);
       },
       {12, 0, 0, 0, 1, 0, 0, 0, 'x', 0, 0, 0, 1, 0, 0, 0}},
  };
  for (const LayoutCase& c : cases) {
    SerialBuffer buffer;
    c.write(&buffer);
    EXPECT_EQ(c.expected, Bytes(buffer)) << c.name;
  }
}

TEST(SerialBufferTest, GrowthSequence) {
  SerialBuffer buffer;
  std::vector<size_t> capacities = {buffer.capacity()};
  for (int i = 0; i < 40000 / 4; ++i) {
    buffer.WriteInt(i);
    if (buffer.capacity() != capacities.back()) capacities.push_back(buffer.capacity());
  }
  const std::vector<size_t> expected = {64,   128,  256,  512,   1024,  2048,
                                        4096, 8128, 16320, 32704, 65472};
  EXPECT_EQ(expected, capacities);
  SerialBuffer large;
  memset(large.ClaimBytes(10000), 1, 10000);
  EXPECT_EQ(10048u, large.capacity()) << "one large field grows to its size, rounded to 64";

  // Everything written survived the reallocations.
  SerialBufferReader reader(buffer);
  for (int i = 0; i < 40000 / 4; ++i) {
    int32_t value = -1;
    ASSERT_TRUE(reader.ReadInt(&value));
    ASSERT_EQ(i, value);
  }
}

TEST(SerialBufferTest, Views) {
  struct ViewCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool readable;
    size_t header_size;
  };
  const ViewCase cases[] = {
      {"three bytes", {4, 0, 0}, false, 0},
      {"payload size larger than the bytes", {8, 0, 0, 0, 7, 0, 0, 0}, false, 0},
      {"header of six bytes", {2, 0, 0, 0, 0, 0, 7, 0}, false, 0},
      {"no header at all", {4, 0, 0, 0}, false, 0},
      {"payload size of all ones", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}, false, 0},
      {"plain message", {4, 0, 0, 0, 7, 0, 0, 0}, true, 4},
      {"longer header", {4, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 7, 0, 0, 0}, true, 8},
  };
  for (const ViewCase& c : cases) {
    SerialBuffer view(c.bytes.data(), c.bytes.size());
    EXPECT_TRUE(view.is_view()) << c.name;
    EXPECT_EQ(c.header_size, view.header_size()) << c.name;
    SerialBufferReader reader(view);
    int32_t value = 0;
    EXPECT_EQ(c.readable, reader.ReadInt(&value)) << c.name;
    if (c.readable) {
      EXPECT_EQ(7, value) << c.name;
    }
  }
}

TEST(SerialBufferTest, CopyOfAViewIsOwnedAndWritable) {
  const uint8_t bytes[] = {4, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 7, 0, 0, 0};
  SerialBuffer view(bytes, sizeof(bytes));
  SerialBuffer copy(view);
  EXPECT_FALSE(copy.is_view());
  EXPECT_EQ(8u, copy.header_size());
  EXPECT_EQ(64u, copy.capacity());
  copy.WriteInt(9);
  const std::vector<uint8_t> expected = {8, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE,
                                         7, 0, 0, 0, 9,    0,    0,    0};
  EXPECT_EQ(expected, Bytes(copy));
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof(bytes)), Bytes(view));

  // A view that reads nothing copies as an empty writable buffer.
  SerialBuffer broken(bytes, 3);
  SerialBuffer broken_copy(broken);
  broken_copy.WriteInt(1);
  EXPECT_EQ((std::vector<uint8_t>{4, 0, 0, 0, 1, 0, 0, 0}), Bytes(broken_copy));
}

// A buffer whose fields are given as raw 32-bit words after a correct header.
SerialBuffer* MakeRawBuffer(const std::vector<uint32_t>& words, std::vector<uint8_t>* bytes) {
  bytes->resize(4 + words.size() * 4);
  uint32_t size = static_cast<uint32_t>(words.size() * 4);
  memcpy(bytes->data(), &size, 4);
  if (!words.empty()) memcpy(bytes->data() + 4, words.data(), size);
  return new SerialBuffer(bytes->data(), bytes->size());
}

TEST(SerialBufferTest, LyingLengthsFailAndEndTheReader) {
  struct LieCase {
    const char* name;
    std::vector<uint32_t> words;
    bool wide;
  };
  const LieCase cases[] = {
      {"length -1", {0xFFFFFFFF, 0x41414141, 0}, false},
      {"length beyond the end", {9, 0x41414141, 0}, false},
      {"wide length -1", {0xFFFFFFFF, 0x00410041, 0}, true},
      {"wide length beyond the end", {5, 0x00410041, 0}, true},
      {"wide length whose byte count overflows", {0x40000000, 0x00410041, 0}, true},
      {"wide length of all but the top bit", {0x7FFFFFFF, 0x00410041, 0}, true},
  };
  for (const LieCase& c : cases) {
    std::vector<uint8_t> bytes;
    std::unique_ptr<SerialBuffer> buffer(MakeRawBuffer(c.words, &bytes));
    SerialBufferReader reader(*buffer);
    std::string narrow;
    std::wstring wide;
    EXPECT_FALSE(c.wide ? reader.ReadWideString(&wide) : reader.ReadString(&narrow)) << c.name;
    int32_t value = 0;
    bool flag = false;
    EXPECT_FALSE(reader.ReadInt(&value)) << c.name;
    EXPECT_FALSE(reader.ReadBool(&flag)) << c.name;
  }
}

TEST(SerialBufferTest, LastFieldWithoutPaddingIsRead) {
  // "abc", "z" and a bool with the padding of their slot cut off.
  const uint8_t narrow[] = {7, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
  const uint8_t wide[] = {6, 0, 0, 0, 1, 0, 0, 0, 'z', 0};
  const uint8_t flag_bytes[] = {1, 0, 0, 0, 1};
  SerialBuffer narrow_view(narrow, sizeof(narrow)), wide_view(wide, sizeof(wide)),
      flag_view(flag_bytes, sizeof(flag_bytes));
  SerialBufferReader narrow_reader(narrow_view), wide_reader(wide_view), flag_reader(flag_view);
  std::string text;
  std::wstring wide_text;
  bool flag = false;
  EXPECT_TRUE(narrow_reader.ReadString(&text));
  EXPECT_TRUE(wide_reader.ReadWideString(&wide_text));
  EXPECT_TRUE(flag_reader.ReadBool(&flag));
  EXPECT_EQ("abc", text);
  EXPECT_EQ(L"z", wide_text);
  EXPECT_TRUE(flag);
  EXPECT_FALSE(narrow_reader.ReadBool(&flag));
  EXPECT_FALSE(flag_reader.ReadBool(&flag));
}

// A message shaped like the installer's IPC messages, and the reads that take it apart.
SerialBuffer MakeMessage() {
  SerialBuffer message;
  message.WriteString(":Installer message:");
  message.WriteInt(5);
  message.WriteWideString(L"C:\\Program Files\\Velum\\velum.exe");
  message.WriteInt(1);  // a bool
  message.WriteString("step \xC3\xA9");
  message.WriteWideString(L"x");
  return message;
}

// Reads the message's fields in order; returns how many reads succeeded before the first
// failure and checks that no read succeeds after it.
int ReadMessage(const SerialBuffer& buffer) {
  SerialBufferReader reader(buffer);
  std::string narrow;
  std::wstring wide;
  int32_t number = 0;
  bool flag = false;
  bool results[] = {reader.ReadString(&narrow), reader.ReadInt(&number),
                    reader.ReadWideString(&wide), reader.ReadBool(&flag),
                    reader.ReadString(&narrow),   reader.ReadWideString(&wide),
                    reader.ReadInt(&number)};
  int succeeded = 0;
  while (succeeded < 7 && results[succeeded]) ++succeeded;
  for (int i = succeeded; i < 7; ++i) EXPECT_FALSE(results[i]) << "read " << i;
  return succeeded;
}

TEST(SerialBufferTest, EveryTruncationOfARealMessage) {
  SerialBuffer message = MakeMessage();
  ASSERT_EQ(6, ReadMessage(message));
  std::vector<uint8_t> bytes = Bytes(message);
  GuardedBuffer guarded(bytes.size());
  int previous = 0;
  for (size_t length = 0; length <= bytes.size(); ++length) {
    SCOPED_TRACE(length);
    // Cut off, header unchanged: the header no longer fits, nothing is read.
    const char* cut = guarded.Assign(bytes.data(), length);
    SerialBuffer cut_view(cut, length);
    EXPECT_EQ(length == bytes.size() ? 6 : 0, ReadMessage(cut_view));

    // Cut off with a header that agrees: the fields before the cut are read, the one
    // across it fails, and no read touches the guard page after the bytes.
    if (length < 4) continue;
    std::vector<uint8_t> consistent(bytes.begin(), bytes.begin() + length);
    uint32_t payload = static_cast<uint32_t>(length - 4);
    memcpy(consistent.data(), &payload, 4);
    const char* lying = guarded.Assign(consistent.data(), length);
    SerialBuffer lying_view(lying, length);
    int read = ReadMessage(lying_view);
    EXPECT_GE(read, previous);
    previous = read;
  }
  EXPECT_EQ(6, previous);
}

TEST(SerialBufferTest, RandomMutationsNeverReadOutOfBounds) {
  std::vector<uint8_t> original = Bytes(MakeMessage());
  GuardedBuffer guarded(original.size() + 64);
  std::mt19937 random(20261207);
  for (int round = 0; round < 4000; ++round) {
    std::vector<uint8_t> bytes = original;
    int mutations = 1 + random() % 4;
    for (int m = 0; m < mutations; ++m) {
      size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:  // flip a byte
          bytes[at] = static_cast<uint8_t>(random());
          break;
        case 1:  // plant a hostile 32-bit length
          if (at + 4 <= bytes.size()) {
            const uint32_t lies[] = {0xFFFFFFFF, 0x7FFFFFFF, 0x40000000, 0x80000000,
                                     static_cast<uint32_t>(bytes.size()), 1000};
            memcpy(&bytes[at], &lies[random() % 6], 4);
          }
          break;
        case 2:  // truncate
          bytes.resize(at);
          break;
        default:  // append garbage
          bytes.push_back(static_cast<uint8_t>(random()));
          break;
      }
      if (bytes.empty()) bytes.push_back(0);
    }
    // Half the time keep the header consistent so the reads reach the mutated fields.
    if (round % 2 && bytes.size() >= 4) {
      uint32_t payload = static_cast<uint32_t>(bytes.size() - 4);
      memcpy(bytes.data(), &payload, 4);
    }
    const char* data = guarded.Assign(bytes.data(), bytes.size());
    SerialBuffer view(data, bytes.size());
    SerialBufferReader reader(view);
    std::string narrow;
    std::wstring wide;
    int32_t number = 0;
    bool flag = false;
    for (int read = 0; read < 8; ++read) {
      switch (random() % 4) {
        // Random reads of random bytes: only that the reader survives them counts.
        case 0: (void)reader.ReadString(&narrow); break;
        case 1: (void)reader.ReadWideString(&wide); break;
        case 2: (void)reader.ReadInt(&number); break;
        default: (void)reader.ReadBool(&flag); break;
      }
    }
    ASSERT_LE(narrow.size(), bytes.size());
    ASSERT_LE(wide.size() * 2, bytes.size());
  }
}

}  // namespace
}  // namespace base
