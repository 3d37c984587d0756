// Fetching the Status of the install folder on a worker and applying it, and the
// request's entry in the statistics.
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/settings/settings.h"

#include <objbase.h>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/threading/worker_pool.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/security/access_control.h"
#include "desktop/windows/installer/settings/settings_status_request.h"
#include "desktop/windows/installer/statistics/stats_node.h"

namespace installer {

namespace {

wchar_t UpperDriveLetter(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

// Exact, except for the letter of a drive path.
bool SameFolder(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size())
    return false;
  if (a.size() >= 2 && a[1] == L':')
    return UpperDriveLetter(a[0]) == UpperDriveLetter(b[0]) && a.compare(1, a.npos, b, 1) == 0;
  return a == b;
}

void FetchStatus(base::scoped_refptr<StatusRequest> request, SettingsPlatform* platform) {
  request->Fetch(platform);
}

void ReplyToSettings(base::scoped_refptr<StatusRequest> request) { request->Reply(); }

const char* const kStatusSourceNames[] = {"INVALID",   "GENERATED", "PRIMARY",
                                          "RECOVERED", "BASALT",    "STRING"};

}  // namespace

StatusRequest::StatusRequest(const base::FilePath& folder, ReplyCallback reply,
                             bool replace_basalt, bool autoupdate)
    : folder_(folder),
      reply_(std::move(reply)),
      replace_basalt_(replace_basalt),
      autoupdate_(autoupdate) {}

StatusRequest::~StatusRequest() = default;

void StatusRequest::Fetch(SettingsPlatform* platform) {
  // Shell links and MSXML want an apartment; the pool thread may be in another one
  // already, and then it is left alone.
  const base::ScopedComInitializer com(COINIT_APARTMENTTHREADED);
  status_ = platform->BuildStatus(folder_, replace_basalt_, autoupdate_);
}

void StatusRequest::Reply() {
  if (!reply_.is_null())
    reply_.Run(this);
}

void Settings::SetInstallFolder(const base::FilePath& folder) {
  if (!changeable_)
    return;
  LOG(INFO) << "Setting install folder to: " << folder.value();
  // A fetch still running for another folder is outdated either way: had it been left
  // running, going back to the current folder would end up in the other one.
  if (pending_request_) {
    pending_request_->ResetReply();
    pending_request_ = nullptr;
  }
  if (target_applied_ && SameFolder(folder.value(), target_.folder.value()))
    return;
  base::scoped_refptr<StatusRequest> request = new StatusRequest(
      folder, base::Bind(&Settings::OnStatusFetched, weak_factory_.GetWeakPtr()),
      flags_[REPLACE_BASALT_INSTALLATION], flags_[AUTOUPDATE]);
  pending_request_ = request;
  // Without a loop on this thread no reply could come back: fetch here instead.
  if (base::CurrentThreadTaskRunner::IsSet() &&
      base::WorkerPool::PostTaskAndReply(FROM_HERE, base::Bind(&FetchStatus, request, platform_),
                                         base::Bind(&ReplyToSettings, request), true)) {
    return;
  }
  request->Fetch(platform_);
  request->Reply();
}

void Settings::OnStatusFetched(StatusRequest* request) {
  // While the request is frozen a fetched Status is dropped unapplied.
  ApplyStatus(request->TakeStatus());
}

void Settings::ApplyTarget(const InstallTarget& target) {
  ApplyStatus(Status::FromTarget(target, flags_[REPLACE_BASALT_INSTALLATION]));
}

void Settings::ApplyStatus(std::unique_ptr<Status> status) {
  if (!changeable_)
    return;
  pending_request_ = nullptr;
  int32_t previous_operation = operation_;
  status_ = std::move(status);
  target_ = status_->ToTarget();
  target_applied_ = true;
  operation_ = OPERATION_INVALID;
  LOG(INFO) << "Install folder set: " << target_.folder.value();
  bool uninstall = flags_[UNINSTALL_FLAG];
  if (!target_.valid_install_path || (uninstall && !target_.existing_installation)) {
    invalid_reason_ = target_.valid_install_path ? std::string("no installation to uninstall")
                                                 : status_->invalid_reason();
    // A Status made from an examined target carries no reason of its own.
    if (invalid_reason_.empty()) invalid_reason_ = "not usable";
    LOG(INFO) << "Invalid install folder: " << invalid_reason_;
    observers_.Notify(&SettingsObserver::OnPathChanged);
    return;
  }
  LogStatus();
  if (target_.existing_installation || previous_operation == OPERATION_UPGRADE)
    FromCommandLine();
  if (uninstall) {
    operation_ = OPERATION_UNINSTALL;
  } else if (target_.existing_installation) {
    operation_ = command_line_->HasSwitch(switches::kRegisterAsProtocolHandler)
                     ? OPERATION_REGISTER_PROTOCOL_HANDLER
                     : OPERATION_UPGRADE;
  } else {
    operation_ = OPERATION_INSTALL;
  }
  LOG(INFO) << "Operation: " << operation_;
  if (target_.existing_installation) {
    LOG(INFO) << "Using settings from existing installation";
    ApplyCopyOnlyRule(target_.copy_only);
    flags_[ALL_USERS_FLAG] = target_.all_users;
    flags_[SINGLE_PROFILE] = target_.single_profile == 1;
    const struct {
      const char* name;
      int flag;
      bool found;
    } kShortcuts[] = {
        {switches::kDesktopShortcut, DESKTOP_SHORTCUT, target_.desktop_shortcut_found},
        {switches::kStartMenuShortcut, START_MENU_SHORTCUT, target_.start_menu_shortcut_found},
        {switches::kQuickLaunchShortcut, QUICK_LAUNCH_SHORTCUT,
         target_.quick_launch_shortcut_found},
        // Only an update keeps an unpinned browser unpinned.
        {switches::kPinToTaskbar, PINNED_SHORTCUT,
         !flags_[AUTOUPDATE] || target_.pinned_shortcut_found},
        {switches::kImportBrowserData, IMPORT_BROWSER_DATA, target_.import_browser_data != 0},
        {switches::kEnableStats, ENABLE_VELUM_STATS, target_.enable_stats != 0},
    };
    for (const auto& shortcut : kShortcuts) {
      if (!command_line_->HasSwitch(shortcut.name))
        flags_[shortcut.flag] = shortcut.found;
    }
    if (!command_line_->HasSwitch(switches::kEnableStats) &&
        !command_line_->HasSwitch(switches::kEnableInstallerStats)) {
      flags_[ENABLE_INSTALLER_STATS] = flags_[ENABLE_VELUM_STATS];
    }
    if ((flags_[REPLACE_BASALT_INSTALLATION] || flags_[AUTOUPDATE]) &&
        target_.record_kind == 4 && target_.handles_http) {
      flags_[DEFAULT_BROWSER] = true;
    }
  } else if (!uninstall && !command_line_->HasSwitch(switches::kSingleProfile)) {
    flags_[SINGLE_PROFILE] =
        target_.single_profile == -1 ? flags_[COPY_ONLY] : target_.single_profile == 1;
  }
  LogFlags();
  if (!target_.language.empty() && !(!uninstall && command_line_->HasSwitch(switches::kLanguage)))
    SetInstallLanguage(target_.language);
  observers_.Notify(&SettingsObserver::OnPathChanged);
}

void Settings::LogStatus() const {
  const Status& status = *status_;
  LOG(INFO) << "status for install folder:";
  LOG(INFO) << "existing folder: " << status.existing_folder().value();
  LOG(INFO) << "existing installation: " << (status.record() ? 1 : 0);
  LOG(INFO) << "has launcher: " << status.has_launcher();
  LOG(INFO) << "write access: " << status.write_access();
  LOG(INFO) << "desktop shortcut found: " << status.desktop_shortcut_found();
  LOG(INFO) << "start menu shortcut found: " << status.start_menu_shortcut_found();
  LOG(INFO) << "quick launch shortcut found: " << status.quick_launch_shortcut_found();
  LOG(INFO) << "pinned shortcuts: " << status.pinned_shortcuts().size();
  LOG(INFO) << "handles http: " << status.handles_http();
  LOG(INFO) << "single profile: " << status.single_profile();
  LOG(INFO) << "import browser data: " << status.import_browser_data();
  LOG(INFO) << "enable stats: " << status.enable_stats();
  LOG(INFO) << "legacy stream: " << status.legacy_stream();
  LOG(INFO) << "language: " << status.language();
}

void Settings::WriteStats(const std::string& prefix, StatsNode* node) const {
  if (!node)
    return;
  LOG(INFO) << "Writing setting stats with prefix " << prefix;
  static const char* const kModes[] = {"all_users", "current_user", "standalone"};
  node->SetString(prefix + "installation_mode", kModes[mode()]);
  const char* operation = "invalid";
  if (operation_ == OPERATION_INSTALL)
    operation = "installing";
  else if (operation_ == OPERATION_UPGRADE)
    operation = "upgrading";
  else if (operation_ == OPERATION_UNINSTALL)
    operation = "uninstalling";
  node->SetString(prefix + "installation_operation", operation);
  node->SetInteger("autoupdate", flags_[AUTOUPDATE] ? 1 : 0);
  node->SetInteger(prefix + "make_default", flags_[DEFAULT_BROWSER] ? 1 : 0);
  const bool default_folder = base::FilePath::CompareIgnoreCase(
                                  status_->path().value(),
                                  GetDefaultInstallFolder(SOURCE_STANDARD).value()) == 0;
  node->SetInteger(prefix + "using_default_installation_folder", default_folder ? 1 : 0);
  const bool privileged = !platform_->IsUserAdmin(false) &&
                          (flags_[ALL_USERS_FLAG] || status_->write_access() == 0);
  node->SetInteger(prefix + "using_privileged_installation_folder", privileged ? 1 : 0);
  node->SetString("build_arch", architecture_ == 1 ? "X64" : "X86");
  if (!status_->status_file_note().empty())
    node->SetString("xml_status_parse_error", status_->status_file_note());
  else
    node->Remove("xml_status_parse_error");
  // Whole faulty files are large: only a sample of installations sends one.
  if (!status_->status_file_text().empty() && platform_->RandomPercent() < 5)
    node->SetString("xml_status_faulty_file", status_->status_file_text());
  else
    node->Remove("xml_status_faulty_file");
  if (const InstallLog* record = status_->record()) {
    const uint32_t source = record->source;
    node->SetString("installation_status_source",
                    source < 6 ? kStatusSourceNames[source] : kStatusSourceNames[0]);
  }
}

}  // namespace installer
