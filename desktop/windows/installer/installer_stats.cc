#include "desktop/windows/installer/installer_stats.h"

#include <windows.h>

#include <lmcons.h>

#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/process/process_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "crypto/sha2.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/wininet/download_stats_observer.h"
#include "desktop/windows/installer/wininet/product_hosts.h"
#include "desktop/windows/installer/wininet/response_writer.h"

namespace installer {

namespace {

const wchar_t kLocalStatsServerUrl[] = L"http://localhost:8080/netinstaller/feedback";
const int32_t kNoWaitMaxRetries = 2;
// The server's answer to a report is a few bytes: a longer one is no answer, and would
// otherwise hold the finished installation for as long as it comes at the rate a try
// must keep.
const uint32_t kMaxAnswerBytes = 64 * 1024;

std::wstring UserName() {
  wchar_t name[UNLEN + 1];
  DWORD size = UNLEN + 1;
  return GetUserNameW(name, &size) ? std::wstring(name) : std::wstring();
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  return GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

// The file name of the parent's image, each UTF-16 unit narrowed to its low byte.
std::string ParentProcessName(uint32_t parent_id) {
  if (!parent_id) return std::string();
  base::ScopedHandle parent(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent.IsValid()) return std::string();
  wchar_t path[MAX_PATH * 2];
  DWORD size = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(parent.Get(), 0, path, &size)) return std::string();
  const std::wstring name = base::FilePath(std::wstring(path, size)).BaseName().value();
  std::string narrow;
  for (wchar_t unit : name) narrow.push_back(static_cast<char>(unit & 0xFF));
  return narrow;
}

}  // namespace

std::string ComputeEndpointNameHash(const std::wstring& user_name,
                                    const std::wstring& computer_name) {
  // The hash of no input is not empty, and a record must not pretend to know the machine.
  if (user_name.empty() && computer_name.empty()) return std::string();
  const std::wstring both = user_name + computer_name;
  std::string bytes;
  for (wchar_t unit : both) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
  }
  return crypto::ComputeSha256Hex(bytes.data(), bytes.size());
}

InstallerStats::InstallerStats(FetcherUIDelegate* ui)
    : root_node_(new StatsNode(&tree_, &lock_, base::TimeTicks::Now())),
      sender_(new WinInetDownloader(ui, nullptr)) {
  AddInitialValues();
}

InstallerStats::~InstallerStats() {
  // The sender first: it closes its WinINet session while the tree still stands.
  sender_.reset();
}

void InstallerStats::AddInitialValues() {
  StatsNode* root = root_node_.get();
  root->SetTimeAndElapsed("installer_start_time");
  root->SetCurrentTime("installation_start_time");
  root->SetString("version", GetBuildVersion());
  root->SetString("stream", GetChannelName());
  root->SetString("product", GetBuildProductName());
  root->SetString("os.name", "windows");
  const base::OsInfo* os = base::OsInfo::Instance();
  root->SetInteger("os.version.major", static_cast<int32_t>(os->version_number().major));
  root->SetInteger("os.version.minor", static_cast<int32_t>(os->version_number().minor));
  root->SetInteger("os.version.build", static_cast<int32_t>(os->version_number().build));
  root->SetInteger("os.service_pack.major", os->service_pack().major);
  root->SetInteger("os.service_pack.minor", os->service_pack().minor);
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  root->SetString("command_line_args",
                  command_line ? base::WideToUTF8(command_line->GetArgumentsString()) : "");
  const uint32_t parent_id = base::GetParentProcessId(GetCurrentProcess());
  root->SetString("parent_process_name", ParentProcessName(parent_id));
  root->SetInteger("parent_process_id", static_cast<int32_t>(parent_id));
  root->SetString("endpoint_name_hash", ComputeEndpointNameHash(UserName(), ComputerName()));
}

void InstallerStats::AddDownloadValues() {
  int chunk_total = 0;
  std::string addresses;
  bool has_fetches = false;
  {
    base::AutoLock hold(lock_);
    const base::List* fetches = nullptr;
    if (tree_.GetList("fetches", &fetches)) {
      has_fetches = true;
      for (size_t i = 0; i < fetches->size(); ++i) {
        const base::Dictionary* fetch = nullptr;
        const base::List* chunks = nullptr;
        if (!fetches->GetDictionary(i, &fetch) || !fetch->GetList("download_chunks", &chunks))
          continue;
        chunk_total += static_cast<int>(chunks->size());
        for (size_t j = 0; j < chunks->size(); ++j) {
          const base::Dictionary* chunk = nullptr;
          std::string ip;
          if (chunks->GetDictionary(j, &chunk) && chunk->GetString("ip", &ip))
            addresses += (addresses.empty() ? "" : "; ") + ip;
        }
      }
    }
  }
  if (!has_fetches) return;
  root_node_->SetInteger("wininet_retries", chunk_total);
  root_node_->SetString("download_ips", addresses);
}

bool InstallerStats::ToJson(std::string* json) {
  base::AutoLock hold(lock_);
  return base::JsonWriter::Write(tree_, json);
}

// static
std::vector<std::wstring> InstallerStats::GetAllowedHostSuffixes() {
  std::vector<std::wstring> allowed = {kProductDomainSuffix, L"localhost"};
  const std::wstring domain = base::UTF8ToWide(GetDomain());
  if (domain != kProductDomainSuffix) allowed.push_back(domain);
  return allowed;
}

bool InstallerStats::Send(base::Closure done, bool wait_for_network) {
  AddDownloadValues();
  root_node_->SetTimeAndElapsed("stats_sending_time");
  sender_->set_allowed_host_suffixes(GetAllowedHostSuffixes());
  sender_->set_max_body_bytes(kMaxAnswerBytes);
  // A server that read the record and then holds its answer or resets would otherwise be
  // sent it again for hours: once sent, a report is tried as when not waiting.
  sender_->set_max_retries_once_sent(kNoWaitMaxRetries);
  if (!wait_for_network) {
    VLOG(1) << "Don't wait for network when sending stats";
    sender_->set_max_retries(kNoWaitMaxRetries);
  }
  std::string json;
  if (!ToJson(&json)) {
    LOG(ERROR) << "Failed to write stats as JSON";
    done.Run();
    return false;
  }
  std::wstring url;
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!server_url_for_testing_.empty()) {
    url = server_url_for_testing_ + L"netinstaller/feedback";
  } else if (command_line && command_line->HasSwitch(switches::kLocalStatsServer)) {
    url = kLocalStatsServerUrl;
    // The local endpoint serves development and tests, which may wait less for it: for a
    // byte, and for a try's progress.
    int32_t seconds = 0;
    if (base::StringToInt(command_line->GetSwitchValueASCII(switches::kLocalStatsReceiveTimeout),
                          &seconds) &&
        seconds > 0) {
      sender_->SetReceiveTimeoutForTesting(base::TimeDelta::FromSeconds(seconds));
      sender_->SetProgressWindowForTesting(base::TimeDelta::FromSeconds(seconds));
    }
  } else {
    url = base::UTF8ToWide(GetProductUrl("autoupdate")) + L"netinstaller/feedback";
  }
  if (!sender_->Start(url, json, done, std::unique_ptr<ResponseWriter>(new ResponseWriter),
                      std::unique_ptr<DownloadStatsObserver>(new DownloadStatsObserver))) {
    done.Run();
    LOG(ERROR) << "Failed to send the stats request";
    return false;
  }
  return true;
}

}  // namespace installer
