// The preference-store interface: a dictionary of preferences addressed by "."-separated
// key paths, read from and written back to some storage.
#ifndef COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
#define COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/memory/ref_counted.h"
#include "base/strings/string_piece.h"

namespace base {
class Dictionary;
class Value;
}  // namespace base

class PersistentPrefStore : public base::RefCountedThreadSafe<PersistentPrefStore> {
 public:
  enum PrefReadError {
    PREF_READ_ERROR_NONE = 0,
    PREF_READ_ERROR_JSON_PARSE = 1,
    PREF_READ_ERROR_JSON_TYPE = 2,
    PREF_READ_ERROR_ACCESS_DENIED = 3,
    PREF_READ_ERROR_FILE_OTHER = 4,
    PREF_READ_ERROR_FILE_LOCKED = 5,
    PREF_READ_ERROR_NO_FILE = 6,
    PREF_READ_ERROR_JSON_REPEAT = 7,
    PREF_READ_ERROR_FILE_NOT_SPECIFIED = 9,
    PREF_READ_ERROR_ASYNCHRONOUS_TASK_INCOMPLETE = 10,
  };

  // Write flag: the write may wait for the next ordinary write or an explicit flush.
  enum : uint32_t { LOSSY_PREF_WRITE_FLAG = 2 };

  class Observer {
   public:
    virtual void OnValueChanged(const std::string& key) = 0;
    virtual void OnInitialized(bool succeeded) = 0;

   protected:
    ~Observer() = default;
  };

  class ReadErrorDelegate {
   public:
    virtual ~ReadErrorDelegate() = default;
    virtual void OnReadError(PrefReadError error) = 0;
  };

  // Observers are ignored unless a store keeps them.
  virtual void AddObserver(Observer*) {}
  virtual void RemoveObserver(Observer*) {}
  virtual bool HasObservers() const { return false; }
  virtual bool IsInitialized() const { return true; }
  // True when `key` is present; `result` (may be null) then points at the stored value.
  [[nodiscard]] virtual bool GetValue(base::StringPiece key, const base::Value** result) const = 0;
  virtual std::unique_ptr<base::Dictionary> CopyValues() const = 0;

  // Takes `value`; storing a value equal to the present one changes nothing.
  virtual void SetValue(base::StringPiece key, std::unique_ptr<base::Value> value,
                        uint32_t flags) = 0;
  virtual void RemoveValue(base::StringPiece key, uint32_t flags) = 0;
  // The stored value itself, for changing it in place (then call NotifyValueChanged).
  [[nodiscard]] virtual bool GetStoredValue(base::StringPiece key, base::Value** result) = 0;
  virtual void NotifyValueChanged(base::StringPiece key, uint32_t flags) = 0;
  virtual void SetValueWithoutNotification(base::StringPiece key,
                                           std::unique_ptr<base::Value> value,
                                           uint32_t flags) = 0;
  virtual bool IsReadOnly() const = 0;
  virtual PrefReadError GetReadError() const = 0;
  // Reads the storage on the calling thread.
  virtual PrefReadError ReadPrefs() = 0;
  // Reads in the background; `error_delegate` (owned, may be null) hears of a failure.
  virtual void ReadPrefsAsync(ReadErrorDelegate* error_delegate) = 0;
  // Writes pending changes, deferred ones included, without waiting for the interval.
  virtual void FlushPendingWrite() = 0;
  virtual void ScheduleDeferredWrites() = 0;
  virtual void ClearValues() = 0;

 protected:
  friend class base::RefCountedThreadSafe<PersistentPrefStore>;
  virtual ~PersistentPrefStore() = default;
};

#endif  // COMPONENTS_PREFS_PERSISTENT_PREF_STORE_H_
