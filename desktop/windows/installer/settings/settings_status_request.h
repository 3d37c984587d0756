// One "FetchStatus" request of the settings: the folder, the Status the worker builds
// for it, and the reply to the settings. Shared between the settings' thread and one
// worker; the worker touches only the folder and the Status.
#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_STATUS_REQUEST_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_STATUS_REQUEST_H_

#include <memory>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

class SettingsPlatform;

class StatusRequest : public base::RefCountedThreadSafe<StatusRequest> {
 public:
  typedef base::Callback<void(StatusRequest*)> ReplyCallback;

  StatusRequest(const base::FilePath& folder, ReplyCallback reply, bool replace_basalt,
                bool autoupdate);
  StatusRequest(const StatusRequest&) = delete;
  StatusRequest& operator=(const StatusRequest&) = delete;

  // On the worker: builds the Status with COM in a single-threaded apartment.
  void Fetch(SettingsPlatform* platform);
  // On the settings' thread: hands the request to the reply unless it was reset.
  void Reply();
  // The result will be dropped.
  void ResetReply() { reply_.Reset(); }

  const base::FilePath& folder() const { return folder_; }
  std::unique_ptr<Status> TakeStatus() { return std::move(status_); }

 private:
  friend class base::RefCountedThreadSafe<StatusRequest>;
  ~StatusRequest();

  const base::FilePath folder_;
  ReplyCallback reply_;
  const bool replace_basalt_;
  const bool autoupdate_;
  std::unique_ptr<Status> status_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_SETTINGS_STATUS_REQUEST_H_
