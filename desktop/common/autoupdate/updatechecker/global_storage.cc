#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/memory/ref_counted.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/kernel_object_names.h"

namespace installer {

namespace {

const wchar_t kFallbackFileName[] = L"au_global_storage";
const char kValuesKey[] = "GS";

GlobalStorage::CopyOnlyQuery g_copy_only_query = nullptr;

// The fallback file, read on a thread of its own whose queued writes finish when the
// store goes out of scope.
class FallbackFile {
 public:
  explicit FallbackFile(const base::FilePath& path) : thread_("GsTaskThread") {
    if (!thread_.Start())
      return;
    store_ = new JsonPrefStore(path, thread_.GetTaskRunner());
    store_->ReadPrefs();
  }
  ~FallbackFile() { Close(); }
  // Writes what is pending and waits for it.
  void Close() {
    if (store_)
      store_->FlushPendingWrite();
    // The thread ends once its queued work is done, the write's reply included; the
    // store, which the reply reaches, goes after it.
    thread_.Stop();
    store_ = nullptr;
  }
  JsonPrefStore* store() const { return store_.get(); }
  base::scoped_refptr<base::SequencedTaskRunner> task_runner() const {
    return thread_.GetTaskRunner();
  }

 private:
  base::Thread thread_;
  base::scoped_refptr<JsonPrefStore> store_;
};

}  // namespace

// Owns the mutex while an operation runs.
class GlobalStorageImpl::MutexHold {
 public:
  ~MutexHold() {
    if (mutex_)
      ReleaseMutex(mutex_);
  }
  void Hold(HANDLE mutex) { mutex_ = mutex; }

 private:
  HANDLE mutex_ = nullptr;
};

// static
void GlobalStorage::SetCopyOnlyQuery(CopyOnlyQuery query) { g_copy_only_query = query; }

// static
GlobalStorage* GlobalStorage::Instance() {
  static GlobalStorage* instance = new GlobalStorageImpl(
      L"Software\\" + base::UTF8ToWide(GetCompanyName()),
      g_copy_only_query && g_copy_only_query());
  return instance;
}

GlobalStorageImpl::GlobalStorageImpl(const std::wstring& key_path, bool copy_only)
    : key_path_(key_path) {
  if (copy_only) {
    use_fallback_ = true;
    return;
  }
  base::RegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_READ | KEY_WRITE) ==
      ERROR_ACCESS_DENIED) {
    use_fallback_ = true;
  }
}

GlobalStorageImpl::~GlobalStorageImpl() = default;

int32_t GlobalStorageImpl::TakeMutex(MutexHold* hold) {
  if (!mutex_.IsValid()) {
    mutex_.Set(CreateMutexW(nullptr, FALSE, kernel_objects::kGlobalStorageMutex));
    if (!mutex_.IsValid() && GetLastError() == ERROR_ACCESS_DENIED)
      mutex_.Set(OpenMutexW(SYNCHRONIZE, FALSE, kernel_objects::kGlobalStorageMutex));
    if (!mutex_.IsValid())
      return kFailure;
  }
  switch (WaitForSingleObject(mutex_.Get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // the owner died; the values are still whole
      hold->Hold(mutex_.Get());
      return kSuccess;
    case WAIT_TIMEOUT:
      return kBusy;
    default:
      return kFailure;
  }
}

int32_t GlobalStorageImpl::Get(const std::string& key, std::string* value) {
  if (!value)
    return kInvalidArgument;
  value->clear();
  if (key.empty())
    return kInvalidArgument;
  MutexHold hold;
  const int32_t taken = TakeMutex(&hold);
  if (taken != kSuccess)
    return taken;
  return use_fallback_ ? GetFromFallback(key, value) : GetFromRegistry(key, value);
}

int32_t GlobalStorageImpl::GetFromFallback(const std::string& key, std::string* value) {
  FallbackFile file(fallback_path_);
  if (!file.store())
    return kFailure;
  const base::Value* values = nullptr;
  if (!file.store()->GetValue(kValuesKey, &values))
    return kSuccess;
  const base::Dictionary* dictionary = nullptr;
  if (!values->GetAsDictionary(&dictionary))
    return kFailure;
  // Keys are whole names, dots included.
  for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    if (it.key() == key)
      (void)it.value().GetAsString(value);  // a value that is no string reads as empty
  }
  return kSuccess;
}

int32_t GlobalStorageImpl::GetFromRegistry(const std::string& key, std::string* value) {
  base::RegistryKey registry;
  if (registry.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
    return kSuccess;
  DWORD size = 0;
  if (RegQueryValueExA(registry.Handle(), key.c_str(), nullptr, nullptr, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0) {
    return kSuccess;
  }
  // The writer leaves out the terminating NUL: room for one is added here.
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(registry.Handle(), key.c_str(), nullptr, nullptr,
                       reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
    return kFailure;
  }
  buffer[size] = '\0';
  value->assign(buffer.data());
  return kSuccess;
}

int32_t GlobalStorageImpl::Set(const std::string& key, const std::string& value) {
  if (key.empty())
    return kInvalidArgument;
  MutexHold hold;
  const int32_t taken = TakeMutex(&hold);
  if (taken == kFailure) {
    LOG(ERROR) << "[AU] GS: Couldn't create an access mutex";
    return kFailure;
  }
  if (taken == kBusy) {
    LOG(ERROR) << "[AU] GS: Couldn't get hold on an access mutex";
    return kBusy;
  }
  if (use_fallback_ ||
      (!migrating_ && !fallback_path_.empty() && base::PathExists(fallback_path_))) {
    const int32_t written = WriteFallback(key, value);
    if (written != kSuccess)
      LOG(ERROR) << "[AU] GS: Writing to a fallback storage failed";
    if (use_fallback_)
      return written;
  }
  const int32_t result = WriteRegistry(key, value);
  registry_ok_ = result == kSuccess;
  return result;
}

int32_t GlobalStorageImpl::WriteFallback(const std::string& key, const std::string& value) {
  if (fallback_path_.empty())
    return kFailure;
  FallbackFile file(fallback_path_);
  if (!file.store() || file.store()->IsReadOnly())
    return kFailure;
  std::unique_ptr<base::Dictionary> values;
  const base::Value* existing = nullptr;
  if (file.store()->GetValue(kValuesKey, &existing))
    values = base::Dictionary::From(existing->CreateDeepCopy());
  if (!values)
    values = std::make_unique<base::Dictionary>();
  if (value.empty())
    (void)values->RemoveWithoutPathExpansion(key, nullptr);  // a missing key is gone already
  else
    values->SetStringWithoutPathExpansion(key, value);
  if (existing && existing->Equals(*values))
    return kSuccess;  // the file holds it already; the store writes nothing
  // Done only once the file is on disk: the reply runs on the store's file thread,
  // which has run it when the file goes out of scope.
  auto flushed = std::make_shared<bool>(false);
  file.store()->RegisterOnNextSuccessfulWriteReply(
      base::Bind([flushed]() { *flushed = true; }), file.task_runner());
  file.store()->SetValue(kValuesKey, std::move(values), 0);
  file.Close();
  return *flushed ? kSuccess : kFailure;
}

int32_t GlobalStorageImpl::WriteRegistry(const std::string& key, const std::string& value) {
  base::RegistryKey registry;
  if (value.empty()) {
    const LONG opened = registry.Open(HKEY_CURRENT_USER, key_path_.c_str(), KEY_SET_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
      return kSuccess;
    if (opened != ERROR_SUCCESS) {
      LOG(ERROR) << "[AU] GS: Deleting reg value failed with: " << opened;
      return kFailure;
    }
    RegDeleteValueA(registry.Handle(), key.c_str());  // a missing value is no error
    return kSuccess;
  }
  const LONG created = registry.Create(HKEY_CURRENT_USER, key_path_.c_str(), KEY_SET_VALUE);
  if (created != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Creating reg key failed with: " << created;
    return kFailure;
  }
  // Without the terminating NUL, as the autoupdate client writes it. The system counts
  // a NUL right after string data in, so a non-NUL byte is put there.
  const std::string data = value + '.';
  const LONG set = RegSetValueExA(registry.Handle(), key.c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(value.size()));
  if (set != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Setting reg value failed with: " << set;
    return kFailure;
  }
  return kSuccess;
}

void GlobalStorageImpl::LoadFallback(const base::FilePath& folder) {
  fallback_path_ = folder.Append(kFallbackFileName);
  if (!base::PathExists(fallback_path_) || use_fallback_ || registry_ok_)
    return;
  std::unique_ptr<base::Value> values;
  {
    FallbackFile file(fallback_path_);
    const base::Value* stored = nullptr;
    if (file.store() && file.store()->GetValue(kValuesKey, &stored))
      values = stored->CreateDeepCopy();
  }
  const base::Dictionary* dictionary = nullptr;
  if (!values || !values->GetAsDictionary(&dictionary))
    return;
  migrating_ = true;
  for (base::Dictionary::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    std::string text;
    // Set logs a value it cannot move; the fallback file stays, so a later load tries
    // again.
    if (it.value().GetAsString(&text))
      (void)Set(it.key(), text);
  }
  migrating_ = false;
}

}  // namespace installer
