// GlobalStorage: a small per-user key/value store shared with the product's autoupdate
// client. Values are ANSI strings under the current user's company registry key; when
// that key cannot be written (or the installation is standalone) they live in the
// fallback file "au_global_storage" of the user data folder instead. Every process of
// the product takes the mutex "vauc_registry_mutex" around an access, without waiting:
// a busy store answers kBusy and the caller decides.
//
//   std::string uuid;
//   if (GlobalStorage::Instance()->Get("UUID", &uuid) == GlobalStorage::kSuccess) ...
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

class JsonPrefStore;

namespace installer {

class GlobalStorage {
 public:
  enum Result : int32_t {
    kSuccess = 0,
    kBusy = 1,  // another process holds the mutex; nothing was done
    kFailure = -252,
    kInvalidArgument = -254,  // an empty key, or no output string
  };

  // Answers whether the running installation is standalone, whose values never go to the
  // registry. Set by the installation layer before the first Instance(); without it the
  // registry is used whenever it can be written.
  typedef bool (*CopyOnlyQuery)();
  static void SetCopyOnlyQuery(CopyOnlyQuery query);

  // The process-wide store, made on first use; the storage kind is decided then.
  static GlobalStorage* Instance();

  // Points the store at `folder`\"au_global_storage" and moves the values of an existing
  // file into the registry when the registry is in use.
  virtual void LoadFallback(const base::FilePath& folder) = 0;
  // An empty value deletes the key.
  [[nodiscard]] virtual int32_t Set(const std::string& key, const std::string& value) = 0;
  // `*value` is cleared first; a missing key or value reads as empty with kSuccess.
  [[nodiscard]] virtual int32_t Get(const std::string& key, std::string* value) = 0;
  virtual ~GlobalStorage() = default;
};

// The store itself; separate so that tests can give it their own registry key.
class GlobalStorageImpl : public GlobalStorage {
 public:
  // `key_path` is below HKEY_CURRENT_USER. With `copy_only` only the fallback file is
  // used; otherwise the fallback is used when the key cannot be opened for writing.
  GlobalStorageImpl(const std::wstring& key_path, bool copy_only);
  ~GlobalStorageImpl() override;
  GlobalStorageImpl(const GlobalStorageImpl&) = delete;
  GlobalStorageImpl& operator=(const GlobalStorageImpl&) = delete;

  void LoadFallback(const base::FilePath& folder) override;
  [[nodiscard]] int32_t Set(const std::string& key, const std::string& value) override;
  [[nodiscard]] int32_t Get(const std::string& key, std::string* value) override;

  bool use_fallback() const { return use_fallback_; }

 private:
  class MutexHold;

  // Opens the mutex when needed and takes it without waiting: kSuccess when taken (held
  // by `hold`), kBusy or kFailure.
  [[nodiscard]] int32_t TakeMutex(MutexHold* hold);
  [[nodiscard]] int32_t GetFromFallback(const std::string& key, std::string* value);
  [[nodiscard]] int32_t GetFromRegistry(const std::string& key, std::string* value);
  [[nodiscard]] int32_t WriteFallback(const std::string& key, const std::string& value);
  [[nodiscard]] int32_t WriteRegistry(const std::string& key, const std::string& value);

  const std::wstring key_path_;
  base::ScopedHandle mutex_;
  base::FilePath fallback_path_;
  bool use_fallback_ = false;
  bool registry_ok_ = false;
  bool migrating_ = false;
};

}  // namespace installer

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
