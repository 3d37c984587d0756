// Key/value "user data" kept in a memory block that other processes may read: each
// block starts with an owning-process block saying which process made it and when,
// then fields packed one after another (a 6-byte header, the name, the value).
//
//   ActivityUserData data(block, size);
//   data.SetInt("process-phase", 2);
#ifndef BASE_DEBUG_ACTIVITY_USER_DATA_H_
#define BASE_DEBUG_ACTIVITY_USER_DATA_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "base/strings/string_piece.h"

namespace base {
namespace debug {

// Wall-clock time as FILETIME units; the stamp of owning-process blocks and exits.
int64_t ActivityWallClockNow();

// The 24 bytes at the start of thread stacks and user data records that say which
// process made them, and when.
struct OwningProcess {
  // Sets up the block for |process_id| (0: this process); the data id comes last.
  void Initialize(int64_t process_id);
  // The owner of a set-up block; false for one without a data id.
  [[nodiscard]] static bool GetOwningProcessId(const void* memory, int64_t* process_id,
                                               int64_t* create_stamp);

  std::atomic<uint32_t> data_id;
  uint32_t padding;
  int64_t process_id;
  int64_t create_stamp;
};
static_assert(sizeof(OwningProcess) == 24, "owning-process block layout");

// Key/value fields packed into a memory block after its owning-process block. Values
// are written so that a reader in another process sees either the old or the new one.
class ActivityUserData {
 public:
  enum ValueType : uint8_t {
    END_OF_VALUES = 0,
    RAW_VALUE = 1,
    RAW_VALUE_REFERENCE = 2,
    STRING_VALUE = 3,
    STRING_VALUE_REFERENCE = 4,
    CHAR_VALUE = 5,
    BOOL_VALUE = 6,
    SIGNED_VALUE = 7,
    UNSIGNED_VALUE = 8,
  };

  static constexpr size_t kFieldHeaderSize = 6;
  static constexpr size_t kMaxNameSize = 255;
  static constexpr size_t kMaxValueSize = 65528;

  struct TypedValue {
    ValueType type = END_OF_VALUES;
    // The value bytes (for references: the address and the size, 8 bytes each).
    std::string bytes;
  };
  typedef std::map<std::string, TypedValue> Snapshot;

  // Without memory every Set does nothing. A block without an owning-process block is
  // set up for |process_id| (0: this process); one that has one has its fields read.
  ActivityUserData();
  ActivityUserData(void* memory, size_t size, int64_t process_id = 0);
  ActivityUserData(const ActivityUserData&) = delete;
  ActivityUserData& operator=(const ActivityUserData&) = delete;

  void Set(StringPiece name, ValueType type, const void* memory, size_t size);
  void SetInt(StringPiece name, int64_t value) { Set(name, SIGNED_VALUE, &value, 8); }
  void SetUint(StringPiece name, uint64_t value) { Set(name, UNSIGNED_VALUE, &value, 8); }
  void SetBool(StringPiece name, bool value);
  void SetChar(StringPiece name, char value) { Set(name, CHAR_VALUE, &value, 1); }
  void SetString(StringPiece name, StringPiece value);
  void SetReference(StringPiece name, const void* memory, size_t size);

  // The fields as they are now; false without memory.
  [[nodiscard]] bool CreateSnapshot(Snapshot* output) const;

  uint32_t id() const;
  bool attached() const { return memory_ != nullptr; }

 private:
  struct FieldHeader;
  struct Field {
    ValueType type;
    char* value;
    std::atomic<uint16_t>* value_size;
    size_t extent;
  };

  void ImportExistingFields();
  void WriteValue(const Field& field, const void* memory, size_t size);

  char* memory_ = nullptr;
  size_t available_ = 0;
  OwningProcess* header_ = nullptr;
  std::map<std::string, Field> fields_;
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_ACTIVITY_USER_DATA_H_
