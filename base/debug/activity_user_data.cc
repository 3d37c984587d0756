#include "base/debug/activity_user_data.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace base {
namespace debug {

namespace {

// Data ids of owning-process blocks; 0 means "not set up" and is skipped.
std::atomic<uint32_t> g_next_data_id{1};

uint32_t NextDataId() {
  uint32_t id;
  do {
    id = g_next_data_id.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

constexpr size_t RoundUpTo8(size_t size) { return (size + 7) & ~static_cast<size_t>(7); }

// Record sizes are u16 in the field header.
constexpr size_t kMaxRecordSize = 0xFFF8;

}  // namespace

int64_t ActivityWallClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<int64_t>(static_cast<uint64_t>(now.dwHighDateTime) << 32 |
                              now.dwLowDateTime);
}

void OwningProcess::Initialize(int64_t pid) {
  process_id = pid ? pid : static_cast<int64_t>(GetCurrentProcessId());
  create_stamp = ActivityWallClockNow();
  // Published last: a reader treats a block with a data id as set up.
  data_id.store(NextDataId(), std::memory_order_release);
}

bool OwningProcess::GetOwningProcessId(const void* memory, int64_t* pid, int64_t* stamp) {
  const OwningProcess* owner = static_cast<const OwningProcess*>(memory);
  if (owner->data_id.load(std::memory_order_acquire) == 0) return false;
  *pid = owner->process_id;
  *stamp = owner->create_stamp;
  return true;
}

// The 6-byte header in front of each field's name.
struct ActivityUserData::FieldHeader {
  std::atomic<uint8_t> type;
  uint8_t name_size;
  std::atomic<uint16_t> value_size;
  uint16_t record_size;
};

ActivityUserData::ActivityUserData() = default;

ActivityUserData::ActivityUserData(void* memory, size_t size, int64_t process_id) {
  if (!memory || size <= sizeof(OwningProcess)) return;
  header_ = static_cast<OwningProcess*>(memory);
  memory_ = static_cast<char*>(memory) + sizeof(OwningProcess);
  available_ = size - sizeof(OwningProcess);
  if (header_->data_id.load(std::memory_order_acquire) == 0)
    header_->Initialize(process_id);
  else
    ImportExistingFields();
}

uint32_t ActivityUserData::id() const {
  return header_ ? header_->data_id.load(std::memory_order_acquire) : 0;
}

void ActivityUserData::SetBool(StringPiece name, bool value) {
  const char byte = value ? 1 : 0;
  Set(name, BOOL_VALUE, &byte, 1);
}

void ActivityUserData::SetString(StringPiece name, StringPiece value) {
  Set(name, STRING_VALUE, value.data(), value.size());
}

void ActivityUserData::SetReference(StringPiece name, const void* memory, size_t size) {
  const uint64_t reference[2] = {reinterpret_cast<uintptr_t>(memory), size};
  Set(name, RAW_VALUE_REFERENCE, reference, sizeof(reference));
}

void ActivityUserData::Set(StringPiece name, ValueType type, const void* memory, size_t size) {
  static_assert(sizeof(FieldHeader) == kFieldHeaderSize, "user data field header layout");
  if (!memory_ || type == END_OF_VALUES) return;
  name = name.substr(0, kMaxNameSize);
  size = std::min(size, kMaxValueSize);
  const std::string key = name.as_string();
  auto found = fields_.find(key);
  if (found != fields_.end()) {
    // Another type would make readers misread the bytes.
    if (found->second.type == type) WriteValue(found->second, memory, size);
    return;
  }

  size_t name_extent = RoundUpTo8(kFieldHeaderSize + name.size()) - kFieldHeaderSize;
  size_t base = kFieldHeaderSize + name_extent;
  if (base > available_) return;
  size_t full = std::min({base + RoundUpTo8(size), available_, kMaxRecordSize});
  if (size == 1 && name_extent > name.size()) {
    // The value goes into the name's padding; the record keeps its 8-byte size.
    full = base;
    --name_extent;
    --base;
  } else if (size != 0 && full <= base) {
    return;
  }

  FieldHeader* header = reinterpret_cast<FieldHeader*>(memory_);
  header->name_size = static_cast<uint8_t>(name.size());
  header->record_size = static_cast<uint16_t>(full);
  std::memcpy(memory_ + kFieldHeaderSize, name.data(), name.size());
  Field field = {type, memory_ + base, &header->value_size, full - base};
  WriteValue(field, memory, size);
  header->type.store(type, std::memory_order_release);
  memory_ += full;
  available_ -= full;
  fields_.emplace(key, field);
}

void ActivityUserData::WriteValue(const Field& field, const void* memory, size_t size) {
  const size_t copied = std::min(size, field.extent);
  field.value_size->store(0, std::memory_order_release);
  std::memcpy(field.value, memory, copied);
  field.value_size->store(static_cast<uint16_t>(copied), std::memory_order_release);
}

void ActivityUserData::ImportExistingFields() {
  const OwningProcess before = {{header_->data_id.load(std::memory_order_acquire)},
                                0,
                                header_->process_id,
                                header_->create_stamp};
  while (available_ > kFieldHeaderSize) {
    FieldHeader* header = reinterpret_cast<FieldHeader*>(memory_);
    const uint8_t type = header->type.load(std::memory_order_acquire);
    if (type == END_OF_VALUES) break;
    const size_t record_size = header->record_size;
    const size_t value_size = header->value_size.load(std::memory_order_acquire);
    // Read once: another process may rewrite the field between two reads.
    const uint8_t name_size = header->name_size;
    if (record_size > available_) break;
    size_t base = RoundUpTo8(kFieldHeaderSize + name_size);
    if (record_size == base && value_size == 1) --base;  // tucked into the name padding
    if (base + value_size > record_size) break;
    Field field = {static_cast<ValueType>(type), memory_ + base, &header->value_size,
                   record_size - base};
    fields_[std::string(memory_ + kFieldHeaderSize, name_size)] = field;
    memory_ += record_size;
    available_ -= record_size;
  }
  // The record was retired and reused while it was read: nothing of it can be trusted.
  if (header_->data_id.load(std::memory_order_acquire) != before.data_id.load() ||
      header_->process_id != before.process_id ||
      header_->create_stamp != before.create_stamp) {
    fields_.clear();
    memory_ = nullptr;
    available_ = 0;
    header_ = nullptr;
  }
}

bool ActivityUserData::CreateSnapshot(Snapshot* output) const {
  if (!memory_) return false;
  for (const auto& entry : fields_) {
    TypedValue& value = (*output)[entry.first];
    value.type = entry.second.type;
    // The size lives in shared memory: a writer elsewhere may have set any value.
    const size_t size = std::min<size_t>(
        entry.second.value_size->load(std::memory_order_acquire), entry.second.extent);
    value.bytes.assign(entry.second.value, size);
  }
  return true;
}

}  // namespace debug
}  // namespace base
