#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"

#include <algorithm>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/common/names/switches.h"
#include "desktop/windows/installer/service/install_folder_files.h"
#include "desktop/windows/installer/verification/authenticode.h"
#include "desktop/windows/installer/verification/downloaded_version_check.h"
#include "desktop/windows/installer/package_fetcher/fetcher_delegate_proxy.h"
#include "desktop/windows/installer/package_fetcher/file_checksum.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/service/file_name_checks.h"
#include "desktop/windows/installer/service/payload_block.h"
#include "desktop/windows/installer/statistics/stats_node.h"
#include "desktop/windows/installer/wininet/download_stats_observer.h"
#include "desktop/windows/installer/wininet/product_hosts.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

const char kInternalPackageServer[] = "https://netinstaller.velum.corp/";

const int32_t kManyBytes = 4 * 1024 * 1024;
const int32_t kManyNoContentAnswers = 3;
const int32_t kShortRetryLimit = 3;
const int32_t kLongRetryLimit = 6;
const int32_t kAdditionalFileTries = 3;
// The address answer is a small JSON text: a longer one is no answer, and would otherwise
// be taken for as long as it comes at the rate a try must keep.
const uint32_t kMaxAddressAnswerBytes = 1024 * 1024;
const uint32_t kHttpNoContent = 204;

const wchar_t kAdditionalFileName[] = L"additional_file.tmp";
const wchar_t kFilesListName[] = L"files_list";
const wchar_t kRootFilesListName[] = L"root_files_list";
const wchar_t kIncludePrefsName[] = L"installer_prefs_include.json";

void DeleteOrWarn(const base::FilePath& path) {
  if (!base::DeleteFile(path, false)) LOG(WARNING) << "Unable to delete " << path.value();
}

// A server's name for the log: control characters (a NUL among them) shown as "?".
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 32) c = '?';
  return text;
}

}  // namespace

bool IsTakenInPackage(const base::FilePath& package_folder, const std::wstring& name) {
  // The name as the pattern: the system matches it ignoring case, and to short names too.
  base::FileEnumerator entries(package_folder, false,
                               base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES,
                               name);
  if (!entries.Next().empty()) return true;
  for (const wchar_t* list : {kFilesListName, kRootFilesListName}) {
    std::string text;
    if (!base::ReadFileToString(package_folder.Append(list), &text)) continue;
    for (const std::string& line :
         base::SplitString(text, "\r\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      if (base::FilePath::CompareIgnoreCase(base::UTF8ToWide(line), name) == 0) return true;
    }
  }
  return false;
}

std::string PackageStatusToString(int status) {
  switch (status) {
    case PACKAGE_STATUS_READY:
      return "package_ready";
    case PACKAGE_STATUS_INITIALIZATION_FAILED:
      return "initialization_failed";
    case PACKAGE_STATUS_DOWNLOAD_FAILED:
      return "download_failed";
    case PACKAGE_STATUS_UNPACKING_FAILED:
      return "unpacking_failed";
  }
  return "invalid";
}

PackageFetcherWorker::PackageFetcherWorker(base::scoped_refptr<FetcherDelegateProxy> proxy,
                                           PayloadReader* payload, const Paths& paths,
                                           std::unique_ptr<StatsNode> fetcher_node,
                                           uint32_t architecture)
    : proxy_(proxy),
      payload_(payload),
      download_folder_(paths.download_folder),
      installer_path_(paths.installer_path),
      package_folder_(paths.installer_path.RemoveExtension()),
      suite_path_(paths.suite_path),
      downloader_(new WinInetDownloader(proxy.get(), proxy.get())),
      fetcher_node_(std::move(fetcher_node)),
      architecture_(architecture) {
  temporary_files_.reserve(6);
}

PackageFetcherWorker::~PackageFetcherWorker() {
  LOG(INFO) << "Terminating the package fetcher";
  proxy_->ClearDelegates();
  if (downloader_->state() != WinInetDownloader::STATE_FAILED) downloader_->Stop();
  downloader_.reset();
  for (const base::FilePath& path : temporary_files_) {
    base::DeleteFileBestEffort(path, false);
    base::DeleteFileBestEffort(path.ReplaceExtension(L"7z"), false);
  }
  base::DeleteFileBestEffort(package_folder_, true);
  if (!suite_path_.empty()) base::DeleteFileBestEffort(suite_path_.RemoveExtension(), true);
}

// static
std::vector<std::wstring> PackageFetcherWorker::GetAddressHostSuffixes() {
  // The maker's domain, its internal development networks and this machine.
  std::vector<std::wstring> hosts;
  const std::wstring domain = base::UTF8ToWide(GetDomain());
  if (domain != kProductDomainSuffix) hosts.push_back(domain);
  hosts.insert(hosts.end(), {kProductDomainSuffix, kInternalDomainSuffix, L"localhost",
                             L"127.0.0.1", kSecondInternalDomainSuffix});
  return hosts;
}

bool PackageFetcherWorker::CanRetry() {
  base::AutoLock hold(lock_);
  return AllowsRetry(fetch_try_counter_, no_content_counter_, total_bytes_received_);
}

// static
bool PackageFetcherWorker::AllowsRetry(int32_t tries, int32_t no_content_answers,
                                       int32_t total_bytes) {
  const int32_t limit = total_bytes < kManyBytes && no_content_answers < kManyNoContentAnswers
                            ? kLongRetryLimit
                            : kShortRetryLimit;
  return tries < limit;
}

// static
int32_t PackageFetcherWorker::AddReceivedBytes(int32_t total, uint32_t bytes) {
  return SaturatedByteCount(static_cast<uint64_t>(std::max(total, 0)) + bytes);
}

void PackageFetcherWorker::Start() {
  LOG(INFO) << "Starting the package fetcher";
  int32_t try_number = 0;
  {
    base::AutoLock hold(lock_);
    try_number = fetch_try_counter_;
  }
  fetch_node_ = fetcher_node_->AppendDictionaryToList("fetches");
  fetch_node_->SetInteger("try_number", try_number);
  fetch_node_->SetTimeAndElapsed("start_time");
  additional_files_.reset();
  partner_file_names_.clear();
  // What the downloader holds is the previous try's until this try starts it.
  downloader_started_ = false;
  ReportStatus(PACKAGE_STATUS_STARTED);

  if (installer_path_.empty()) {
    ReportFailure("No package name is free for this run", PACKAGE_STATUS_INITIALIZATION_FAILED);
    return;
  }
  if (!current_download_path_.empty()) DeleteOrWarn(current_download_path_);
  if (!base::DeleteFile(package_folder_, true)) {
    ReportFailure("Unable to remove the package folder", PACKAGE_STATUS_INITIALIZATION_FAILED);
    return;
  }
  current_download_path_ =
      installer_path_.InsertBeforeExtension(L"_" + std::to_wstring(try_number));
  temporary_files_.push_back(current_download_path_);

  if (payload_->type() != PayloadReader::FULL_PACKAGE) {
    base::MessageLoop::Current()->task_runner()->PostTask(
        FROM_HERE, base::Bind(&PackageFetcherWorker::FetchDownloadUrl, weak_factory_.GetWeakPtr()));
    return;
  }
  ReportStatus(PACKAGE_STATUS_EXTRACTING);
  WriteOutArchive(*payload_);
}

void PackageFetcherWorker::FetchDownloadUrl() {
  LOG(INFO) << "Preparing to fetch the download URL";
  ReportStatus(PACKAGE_STATUS_FETCHING_URL);

  downloader_->set_allowed_host_suffixes(GetAddressHostSuffixes());
  downloader_->set_max_body_bytes(kMaxAddressAnswerBytes);

  std::wstring url;
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (command_line &&
      !command_line->GetSwitchValueNative(switches::kInternalPackageServer).empty()) {
    url = command_line->GetSwitchValueNative(switches::kInternalPackageServer);
  } else {
    std::string base_url = command_line && command_line->HasSwitch(switches::kInternalPackageServer)
                               ? kInternalPackageServer
                               : GetProductUrl("autoupdate");
    base_url += "netinstaller/" + GetChannelName();
    if (architecture_ == 1) base_url += "/windows/x64/";
    url = base::UTF8ToWide(base_url);
  }

  // A new try's requests retry as the package's do, whatever the last file allowed.
  downloader_->set_max_retries(WinInetDownloader::kDefaultMaxRetries);

  LOG(INFO) << "Fetching the download URL";
  fetch_node_->SetTimeAndElapsed("fetch_download_url_start_time");
  downloader_started_ = true;
  if (!downloader_->Start(
          url, payload_->GetTrackingData(),
          base::Bind(&PackageFetcherWorker::OnDownloadUrlFetched, weak_factory_.GetWeakPtr()),
          std::unique_ptr<ResponseWriter>(new StringResponseWriter(&reply_text_)),
          std::unique_ptr<DownloadStatsObserver>(
              new PrefixedDownloadStatsObserver(fetch_node_->Clone(), "fetch_download_url_")))) {
    ReportDownloadError("Failed starting fetching the download URL");
  }
}

void PackageFetcherWorker::OnDownloadUrlFetched() {
  fetch_node_->SetTimeAndElapsed("fetch_download_url_end_time");
  if (downloader_->state() != WinInetDownloader::STATE_COMPLETED) {
    ReportDownloadError(base::StringPrintf("Failed fetching the download URL with state %d",
                                           static_cast<int>(downloader_->state())));
    return;
  }
  ReportStatus(PACKAGE_STATUS_DOWNLOADING);
  VLOG(1) << "Parsing the fetched URL";
  reply_ = base::JsonReader::Read(reply_text_);
  const base::Dictionary* reply = nullptr;
  const base::Value* value = nullptr;
  std::string package_url;
  std::string checksum;
  if (!reply_) return ReportJsonError("Invalid JSON");
  if (!reply_->GetAsDictionary(&reply)) return ReportJsonError("Content is not a dictionary");
  if (!reply->Get("installer", &value)) return ReportJsonError("Missing full package url");
  if (!value->GetAsString(&package_url)) return ReportJsonError("Full package url is not a string");
  if (!reply->Get("installer_checksum", &value))
    return ReportJsonError("Missing full package checksum");
  if (!value->GetAsString(&checksum))
    return ReportJsonError("Full package checksum is not a string");
  // Only http and https are fetched; an address that is neither (or too long to use) is
  // refused before it reaches the record, where each try would copy it again.
  if (!WinInetDownloader::IsHttpUrl(base::UTF8ToWide(package_url))) {
    LOG(ERROR) << "Refusing full package url "
               << BoundServerText(UrlWithoutUserinfoAndFragment(package_url));
    ReportFailure("Full package url is not an http or https URL", PACKAGE_STATUS_DOWNLOAD_FAILED);
    return;
  }
  // Compared case-sensitively after the download: a checksum that can never match is
  // refused before it.
  if (!IsSha256Hex(checksum))
    return ReportJsonError("Full package checksum is not 64 lower-case hexadecimal digits");

  fetch_node_->SetServerUrl("download_url", package_url);
  fetcher_node_->SetServerUrl("download_url", package_url);
  LOG(INFO) << "Preparing to fetch the installer";

  std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
  if (!writer->Open(current_download_path_)) {
    ReportFailure("Failed initializing the file to use as download destination",
                  PACKAGE_STATUS_DOWNLOAD_FAILED);
    return;
  }

  TakeAdditionalFiles(*reply);

  fetch_node_->SetTimeAndElapsed("download_start_time");
  fetcher_node_->SetCurrentTime("installation_start_download_time");
  // The package and component hosts are not restricted.
  downloader_->set_allowed_host_suffixes({});
  downloader_->set_max_body_bytes(UINT32_MAX);
  if (!downloader_->Start(
          base::UTF8ToWide(package_url), std::string(),
          base::Bind(&PackageFetcherWorker::ExtractArchive, weak_factory_.GetWeakPtr(), checksum),
          std::move(writer),
          std::unique_ptr<DownloadStatsObserver>(
              new ChunkDownloadStatsObserver(fetch_node_->Clone(), "download_chunks")))) {
    ReportDownloadError("Failed starting downloading the Velum package");
  }
}

void PackageFetcherWorker::TakeAdditionalFiles(const base::Dictionary& reply) {
  additional_files_.reset(new base::List);
  const base::List* components = nullptr;
  if (!reply.GetList("components", &components)) return;
  size_t left_out = 0;
  for (size_t i = 0; i < components->size(); ++i) {
    const base::Dictionary* component = nullptr;
    std::string type;
    if (!components->GetDictionary(i, &component)) continue;
    (void)component->GetString("type", &type);  // a component without a type is neither
    if ((type != "suite" || suite_path_.empty()) && type != "partner_content") continue;
    // A list is bounded as a whole: each entry costs requests and time.
    if (additional_files_->size() == kMaxAdditionalFiles)
      ++left_out;
    else
      additional_files_->Append(component->CreateDeepCopy());
  }
  if (left_out > 0) {
    LOG(WARNING) << "Leaving out " << left_out << " additional files beyond the first "
                 << kMaxAdditionalFiles;
  }
}

void PackageFetcherWorker::ExtractArchive(const std::string& expected_checksum) {
  fetch_node_->SetTimeAndElapsed("download_end_time");
  if (downloader_->state() != WinInetDownloader::STATE_COMPLETED) {
    ReportDownloadError(base::StringPrintf("Failed downloading the Velum package with state %d",
                                           static_cast<int>(downloader_->state())));
    return;
  }
  std::unique_ptr<base::Dictionary> details;
  if (!CheckFileChecksum(current_download_path_, expected_checksum, &details)) {
    fetch_node_->SetValue("error_details", std::move(details));
    ReportFailure("Checksum incorrect for the downloaded package", PACKAGE_STATUS_DOWNLOAD_FAILED);
    return;
  }
  if (SignatureRequired()) {
    std::string error;
    if (!VerifyFileSignature(current_download_path_, &error)) {
      fetch_node_->SetString("signature_check_error", error);
      ReportFailure("Signature incorrect for the downloaded package",
                    PACKAGE_STATUS_DOWNLOAD_FAILED);
      return;
    }
  }
  const std::string stream = GetChannelName();
  if (!CheckDownloadedVersion(current_download_path_, GetBuildAndPatchNumber(), &stream,
                              fetch_node_.get(), kDownloadedItemAnswerTimeout)) {
    ReportFailure("Downloaded package failed version check", PACKAGE_STATUS_DOWNLOAD_FAILED);
    return;
  }

  fetch_node_->SetTimeAndElapsed("extract_start_time");
  ReportStatus(PACKAGE_STATUS_EXTRACTING);
  const PayloadReader package(current_download_path_);
  if (package.type() != PayloadReader::FULL_PACKAGE) {
    ReportFailure("Could not find 7z payload in full package", PACKAGE_STATUS_DOWNLOAD_FAILED);
    return;
  }
  WriteOutArchive(package);
}

void PackageFetcherWorker::WriteOutArchive(const PayloadReader& package) {
  const base::FilePath archive = current_download_path_.ReplaceExtension(L"7z");
  if (!package.WritePayloadToFile(archive)) {
    ReportFailure("Could not write out 7z archive from full package",
                  PACKAGE_STATUS_UNPACKING_FAILED);
    return;
  }
  base::MessageLoop::Current()->task_runner()->PostTask(
      FROM_HERE,
      base::Bind(&PackageFetcherWorker::UnpackArchive, weak_factory_.GetWeakPtr(), archive));
}

void PackageFetcherWorker::UnpackArchive(const base::FilePath& archive) {
  LOG(INFO) << "Unpacking files from archive";
  fetch_node_->SetTimeAndElapsed("unpack_start_time");
  fetcher_node_->SetCurrentTime("installation_start_unpacking_time");
  if (!base::CreateDirectory(package_folder_)) {
    ReportFailure("Could not create unpacking folder", PACKAGE_STATUS_UNPACKING_FAILED);
    return;
  }
  base::Result<> unpacked;
  {
    LzmaUtil lzma;
    lzma.set_progress_delegate(proxy_.get());
    const base::Result<> opened = lzma.Open(archive);
    if (!opened.ok()) {
      ReportFailure(base::StringPrintf("Archive opening failed with error %lu",
                                       static_cast<unsigned long>(opened.failure().error)),
                    PACKAGE_STATUS_UNPACKING_FAILED);
      return;
    }
    unpacked = lzma.ExtractArchiveTo(package_folder_);
  }
  if (!unpacked.ok()) {
    ReportFailure(base::StringPrintf("Archive unpacking failed failed with error %lu",
                                     static_cast<unsigned long>(unpacked.failure().error)),
                  PACKAGE_STATUS_UNPACKING_FAILED);
    return;
  }
  const std::string tracking_data = payload_->GetTrackingData();
  if (payload_->type() != PayloadReader::FULL_PACKAGE && !tracking_data.empty()) {
    const int size = static_cast<int>(tracking_data.size());
    if (base::WriteFile(package_folder_.Append(kTrackingDataFileName), tracking_data.data(),
                        size) != size) {
      LOG(WARNING) << "Failed saving tracking data to unpacked installer.";
    }
  }
  base::MessageLoop::Current()->task_runner()->PostTask(
      FROM_HERE, base::Bind(&PackageFetcherWorker::OnArchiveUnpacked, weak_factory_.GetWeakPtr()));
  base::DeleteFileBestEffort(archive, false);
}

void PackageFetcherWorker::OnArchiveUnpacked() {
  fetch_node_->SetTimeAndElapsed("unpack_end_time");
  fetcher_node_->SetCurrentTime("installation_unpack_complete_time");

  const base::Dictionary* reply = nullptr;
  std::string welcome_url;
  if (reply_ && reply_->GetAsDictionary(&reply) && reply->GetString("url_welcome", &welcome_url)) {
    VLOG(1) << "Writing welcome page url pref";
    // Written on this thread's loop, before the tasks posted below.
    base::scoped_refptr<JsonPrefStore> store(new JsonPrefStore(
        package_folder_.Append(kIncludePrefsName), base::MessageLoop::Current()->task_runner()));
    // A package without the file gets a new one.
    const PersistentPrefStore::PrefReadError read_error = store->ReadPrefs();
    VLOG(1) << "Read " << kIncludePrefsName << ": " << read_error;
    store->SetValue("welcome-url", std::unique_ptr<base::Value>(new base::Value(welcome_url)), 0);
    store->FlushPendingWrite();
  }

  if (additional_files_ && !additional_files_->empty()) {
    LOG(INFO) << "We have additional content";
    additional_file_cursor_ = 0;
    additional_file_node_ = fetch_node_->AppendDictionaryToList("additional_files");
    ReportStatus(PACKAGE_STATUS_FETCHING_COMPONENTS);
    fetching_additional_files_ = true;
    base::MessageLoop::Current()->task_runner()->PostDelayedTask(
        FROM_HERE,
        base::Bind(&PackageFetcherWorker::OnAdditionalFilesDeadline, weak_factory_.GetWeakPtr()),
        additional_files_deadline_);
    base::MessageLoop::Current()->task_runner()->PostTask(
        FROM_HERE,
        base::Bind(&PackageFetcherWorker::DownloadAdditionalFile, weak_factory_.GetWeakPtr()));
    return;
  }
  base::MessageLoop::Current()->task_runner()->PostTask(
      FROM_HERE, base::Bind(&PackageFetcherWorker::NotifyPackageReady, weak_factory_.GetWeakPtr()));
}

void PackageFetcherWorker::DownloadAdditionalFile() {
  // Posted before the deadline ended the files.
  if (!fetching_additional_files_) return;
  LOG(INFO) << "Preparing to download an additional file";
  const base::Dictionary* entry = nullptr;
  std::string location, type, checksum, filename;
  int archive = 0;
  if (!additional_files_->GetDictionary(additional_file_cursor_, &entry) ||
      !entry->GetString("location", &location) || !entry->GetString("type", &type) ||
      !entry->GetInteger("archive", &archive) || !entry->GetString("checksum", &checksum) ||
      (archive == 0 && !entry->GetString("filename", &filename))) {
    LOG(ERROR) << "Failed parsing additional file part of JSON reply";
    NextAdditionalFile();
    return;
  }
  additional_file_node_->SetServerUrl("download_url", location);
  additional_file_node_->SetInteger("download_succeeded", 0);
  // The name comes from the server: it may only name a new file in the target folder.
  if (archive == 0 && (!IsBareFileName(base::UTF8ToWide(filename)) ||
                       (type == "partner_content" &&
                        IsTakenInPackage(package_folder_, base::UTF8ToWide(filename))))) {
    LOG(ERROR) << "Refusing additional file name " << Printable(filename);
    NextAdditionalFile();
    return;
  }
  if (!IsSha256Hex(checksum)) {
    LOG(ERROR) << "Refusing additional file checksum " << BoundServerText(checksum);
    NextAdditionalFile();
    return;
  }
  additional_file_try_node_ = additional_file_node_->AppendDictionaryToList("download_tries");
  additional_file_try_node_->SetTimeAndElapsed("download_start_time");
  {
    base::AutoLock hold(lock_);
    additional_file_try_node_->SetInteger("try_number", additional_file_try_counter_);
  }

  std::unique_ptr<FileResponseWriter> writer(new FileResponseWriter);
  if (!writer->Open(download_folder_.Append(kAdditionalFileName))) {
    LOG(ERROR) << "Failed initializing the file to use as download destination";
    // The remaining components are skipped, but the partner files placed so far still
    // join the file list.
    additional_file_cursor_ = additional_files_->size() - 1;
    NextAdditionalFile();
    return;
  }
  downloader_->set_max_retries(kAdditionalFileMaxRetries);
  if (!downloader_->Start(base::UTF8ToWide(location), std::string(),
                          base::Bind(&PackageFetcherWorker::OnAdditionalFileDownloaded,
                                     weak_factory_.GetWeakPtr(), filename, archive, checksum, type),
                          std::move(writer),
                          std::unique_ptr<DownloadStatsObserver>(new PrefixedDownloadStatsObserver(
                              additional_file_try_node_->Clone(), std::string())))) {
    LOG(ERROR) << "Failed downloading additional file";
    NextAdditionalFile();
  }
}

void PackageFetcherWorker::OnAdditionalFileDownloaded(const std::string& filename, int archive,
                                                      const std::string& checksum,
                                                      const std::string& type) {
  additional_file_try_node_->SetTimeAndElapsed("download_end_time");
  const base::FilePath downloaded = download_folder_.Append(kAdditionalFileName);
  if (downloader_->state() != WinInetDownloader::STATE_COMPLETED ||
      !CheckFileChecksum(downloaded, checksum, nullptr)) {
    LOG(ERROR) << "Failed downloading partner content";
    base::DeleteFileBestEffort(downloaded, false);
    int32_t tries_before = 0;
    {
      base::AutoLock hold(lock_);
      tries_before = additional_file_try_counter_++;
    }
    if (tries_before >= kAdditionalFileTries || downloader_->retry_count() != 0) {
      LOG(INFO) << "Giving up downloading this file";
      NextAdditionalFile();
    } else {
      LOG(INFO) << "Retrying additional file download";
      DownloadAdditionalFile();
    }
    return;
  }
  if (PlaceAdditionalFile(downloaded, filename, archive != 0, type)) {
    additional_file_node_->SetInteger("download_succeeded", 1);
    // A self-extracting archive has no file name to list.
    if (type == "partner_content" && !filename.empty()) partner_file_names_.push_back(filename);
  }
  NextAdditionalFile();
}

bool PackageFetcherWorker::PlaceAdditionalFile(const base::FilePath& downloaded,
                                               const std::string& filename, bool archive,
                                               const std::string& type) {
  const base::FilePath target_folder =
      type == "partner_content" ? package_folder_ : suite_path_.RemoveExtension();
  if (!archive) {
    const base::FilePath target = target_folder.Append(base::UTF8ToWide(filename));
    // Nothing is replaced, also not through a short name ("INSTAL~1.EXE").
    if (!base::CreateDirectory(target_folder) || base::PathExists(target) ||
        !base::Move(downloaded, target)) {
      LOG(ERROR) << "Failed moving additional file into place";
      return false;
    }
    return true;
  }

  if (SignatureRequired() && !VerifyFileSignature(downloaded, nullptr)) {
    LOG(ERROR) << "Signature incorrect for additional file";
    return false;
  }
  if (!base::CreateDirectory(target_folder)) {
    LOG(ERROR) << "Could not create unpacking folder for additional file";
    return false;
  }
  const std::wstring wide_type = base::UTF8ToWide(type);
  const base::FilePath sfx = target_folder.Append(wide_type + L"_sfx.exe");
  if (!base::Move(downloaded, sfx)) {
    LOG(ERROR) << "Failed moving additional component SFX into place";
    return false;
  }
  // Held from its check to its end, so what runs is what was checked: an installer of
  // this product is never run as an archive.
  const base::ScopedHandle hold(CreateFileW(sfx.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  const base::Result<> refused = hold.IsValid()
                                     ? RefuseProductPayload(hold.Get(), sfx)
                                     : base::Failure{GetLastError(), 0, "it cannot be held", sfx};
  if (!refused.ok()) {
    LOG(ERROR) << "Not starting SFX archive: " << base::DescribeFailure(refused.failure()) << " ("
               << sfx.AsUTF8() << ")";
    return false;
  }
  base::LaunchOptions options;
  base::Process process = base::LaunchProcess(base::CommandLine(sfx), options);
  if (!process.IsValid()) {
    LOG(ERROR) << "Failed starting SFX archive";
    return false;
  }
  int32_t exit_code = 0;
  if (!process.WaitForExit(&exit_code) || exit_code != 0) {
    LOG(ERROR) << "Failed extracting SFX archive";
    return false;
  }
  base::FilePath component_installer = target_folder.Append(wide_type + L"_installer.exe");
  if (type == "suite" && !base::PathExists(component_installer))
    component_installer = target_folder.Append(L"assistant_installer.exe");
  if (!CheckDownloadedVersion(component_installer, GetBuildAndPatchNumber(), nullptr,
                              additional_file_node_.get(), kDownloadedItemAnswerTimeout)) {
    LOG(ERROR) << "Component version didn't pass check";
    return false;
  }
  // Kept until the fetcher ends, with the folder: an elevated installation makes the
  // component from the archive, the one file of it a signature covers.
  return true;
}

void PackageFetcherWorker::NextAdditionalFile() {
  ++additional_file_cursor_;
  if (additional_file_cursor_ < additional_files_->size()) {
    additional_file_node_ = fetch_node_->AppendDictionaryToList("additional_files");
    base::MessageLoop::Current()->task_runner()->PostTask(
        FROM_HERE,
        base::Bind(&PackageFetcherWorker::DownloadAdditionalFile, weak_factory_.GetWeakPtr()));
    return;
  }
  FinishAdditionalFiles();
}

void PackageFetcherWorker::OnAdditionalFilesDeadline() {
  if (!fetching_additional_files_) return;
  const size_t left_out = additional_files_->size() - additional_file_cursor_;
  LOG(WARNING) << "The additional files took their "
               << additional_files_deadline_.InMilliseconds() / 1000 << " s, going on without "
               << left_out << " of them";
  // The file being fetched stays recorded as not downloaded.
  if (downloader_->state() == WinInetDownloader::STATE_REQUEST_SENT ||
      downloader_->state() == WinInetDownloader::STATE_RECEIVING) {
    downloader_->Stop();
    additional_file_try_node_->SetTimeAndElapsed("download_end_time");
    base::DeleteFileBestEffort(download_folder_.Append(kAdditionalFileName), false);
  }
  FinishAdditionalFiles();
}

void PackageFetcherWorker::FinishAdditionalFiles() {
  fetching_additional_files_ = false;
  std::string names;
  for (const std::string& name : partner_file_names_) {
    if (!names.empty()) names += "\r\n";
    names += name;
  }
  names += "\r\n";
  const base::FilePath files_list = package_folder_.Append(kFilesListName);
  // The package carries the list; a missing one is not made up.
  if (base::PathExists(files_list) &&
      !base::AppendToFile(files_list, names.data(), static_cast<int>(names.size()))) {
    LOG(ERROR) << "Failed appending the additional files to " << files_list.value();
  }
  NotifyPackageReady();
}

void PackageFetcherWorker::NotifyPackageReady() {
  const uint32_t received = TryBytesReceived();
  int32_t total = 0;
  {
    base::AutoLock hold(lock_);
    total_bytes_received_ = AddReceivedBytes(total_bytes_received_, received);
    total = total_bytes_received_;
  }
  fetch_node_->SetTimeAndElapsed("package_ready_time");
  LOG(INFO) << "Package ready.";
  fetch_node_->SetInteger("bytes_received", SaturatedByteCount(received));
  fetcher_node_->SetCurrentTime("package_ready_time");
  fetcher_node_->SetInteger("total_bytes_received", total);
  fetch_node_->SetString("result", PackageStatusToString(PACKAGE_STATUS_READY));
  ReportStatus(PACKAGE_STATUS_READY);
}

bool PackageFetcherWorker::SignatureRequired() const {
  return AreSignaturesRequired(signature_rule_);
}

void PackageFetcherWorker::ReportStatus(int status) { proxy_->NotifyStatusChanged(status); }

uint32_t PackageFetcherWorker::TryBytesReceived() const {
  return downloader_started_ ? downloader_->received() : 0;
}

void PackageFetcherWorker::ReportResult(int status) {
  const uint32_t received = TryBytesReceived();
  int32_t tries = 0;
  int32_t total = 0;
  {
    base::AutoLock hold(lock_);
    ++fetch_try_counter_;
    total_bytes_received_ = AddReceivedBytes(total_bytes_received_, received);
    if (downloader_started_ && downloader_->http_status() == kHttpNoContent)
      ++no_content_counter_;
    tries = fetch_try_counter_;
    total = total_bytes_received_;
  }
  fetch_node_->SetInteger("bytes_received", SaturatedByteCount(received));
  fetcher_node_->SetInteger("fetcher_restarts", tries);
  fetcher_node_->SetInteger("total_bytes_received", total);
  fetch_node_->SetString("result", PackageStatusToString(status));
  ReportStatus(status);
}

void PackageFetcherWorker::ReportFailure(const std::string& reason, int status) {
  LOG(ERROR) << reason;
  // Download errors quote what the server sent.
  fetch_node_->SetServerText("failure_reason", reason);
  ReportResult(status);
}

void PackageFetcherWorker::ReportDownloadError(const std::string& message) {
  ReportFailure(message + "\n" + downloader_->GetLastErrorText(), PACKAGE_STATUS_DOWNLOAD_FAILED);
}

void PackageFetcherWorker::ReportJsonError(const std::string& message) {
  LOG(ERROR) << "Failed parsing json reply: " << message;
  fetch_node_->SetString("failure_reason", message);
  fetch_node_->SetServerText("corrupted_json_content", reply_text_);
  ReportResult(PACKAGE_STATUS_DOWNLOAD_FAILED);
}

}  // namespace installer
