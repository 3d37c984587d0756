#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scratch_dir_test_util.h"
#include "base/json/json_reader.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread.h"
#include "base/win/scoped_handle.h"
#include "base/test/log_capture_test_util.h"
#include "base/test/run_loop_test_util.h"
#include "base/test/scoped_command_line_test_util.h"
#include "crypto/sha2.h"
#include "desktop/common/autoupdate/updatechecker/product_config.h"
#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"
#include "desktop/windows/installer/package_fetcher/fetcher_delegate_proxy.h"
#include "desktop/windows/installer/package_fetcher/package_lock.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_fetcher/test_data_test_util.h"
#include "desktop/windows/installer/statistics/stats_node_test_util.h"
#include "desktop/windows/installer/steps/installation_test_util.h"
#include "testing/update_server/update_server_test_util.h"

namespace installer {
namespace {

using testing::ReadAll;

std::string Signing(const char* name) {
  return ReadAll(testing::TestDataPath((std::string("signing/") + name).c_str()));
}

std::string Sha256(const std::string& data) {
  return crypto::ComputeSha256Hex(data.data(), data.size());
}

class PackageFetcherTest : public base::ScratchDirTest, public FetcherDelegate {
 protected:
  void SetUp() override {
    base::ScratchDirTest::SetUp();
    ASSERT_TRUE(server_.Start()) << server_.error();
    command_line_.Get()->AppendSwitchNative("internal-package-server",
                                            server_.Url("/netinstaller/address"));
    // What the stand-in package answers: the running installer's own version and stream.
    SetStubAnswers(GetBuildAndPatchNumber(), GetChannelName());
    download_folder_ = Path(L"download");
    ASSERT_TRUE(base::CreateDirectory(download_folder_));
  }
  void TearDown() override {
    fetcher_.reset();
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", nullptr);
    SetEnvironmentVariableA("VELUM_STUB_STREAM", nullptr);
    SetEnvironmentVariableA("VELUM_STUB_COMPONENT_VERSION", nullptr);
    base::ScratchDirTest::TearDown();
  }

  static void SetStubAnswers(const std::string& version, const std::string& stream) {
    SetEnvironmentVariableA("VELUM_STUB_INTERNAL_VERSION", version.c_str());
    SetEnvironmentVariableA("VELUM_STUB_STREAM", stream.c_str());
  }

  // The running installer: a signing fixture, with tracking data when not empty.
  void UseRunningInstaller(const char* fixture, const std::string& tracking_data = "") {
    payload_.reset(
        new PayloadReader(testing::TestDataPath((std::string("signing/") + fixture).c_str())));
    if (!tracking_data.empty()) payload_->SetExternalTrackingData(tracking_data);
  }

  // Serves |package| at /package.exe and answers the address request with it, its
  // checksum (or |checksum|) and the members of |more_json|.
  void ServePackage(const std::string& package, const std::string& more_json = "",
                    const std::string& checksum = "") {
    ASSERT_TRUE(server_.ServeFile("/package.exe", package));
    std::string reply = R"({"installer": "{base}/package.exe", "installer_checksum": ")" +
                        (checksum.empty() ? Sha256(package) : checksum) + "\"";
    if (!more_json.empty()) reply += ", " + more_json;
    ASSERT_TRUE(server_.SetDownloadAddress(reply + "}"));
  }

  // Makes the fetcher and starts a try.
  void StartFetcher() {
    fetcher_.reset(new PackageFetcher(download_folder_, record_.root.Clone(), &ui_, this,
                                      payload_.get(), 1, false));
    fetcher_->SetRetryDelayForTesting(base::TimeDelta::FromMilliseconds(1));
    fetcher_->SetSignatureRuleForTesting(rule_);
    if (!additional_files_deadline_.is_zero())
      fetcher_->SetAdditionalFilesDeadlineForTesting(additional_files_deadline_);
    fetcher_->Start();
  }

  // Runs the loop until the try ends; its final status.
  int RunUntilTryEnds() {
    base::RunLoop run_loop;
    run_loop_ = &run_loop;
    const bool ended = base::RunUntilQuitOrLimit(&run_loop, base::TimeDelta::FromSeconds(120));
    run_loop_ = nullptr;
    EXPECT_TRUE(ended) << "the try never ended";
    return statuses_.empty() ? -1 : statuses_.back();
  }

  int Fetch() {
    StartFetcher();
    return RunUntilTryEnds();
  }

  // FetcherDelegate:
  void SetTotalProgress(uint32_t) override {}
  void SetCurrentProgress(uint32_t) override {}
  void NotifyStalled(uint32_t) override {}
  void NotifyStatusChanged(int status) override {
    statuses_.push_back(status);
    if (status >= PACKAGE_STATUS_READY && run_loop_) run_loop_->Quit();
  }

  // A string of the |index|-th "fetches" entry; empty when absent.
  std::string FetchString(size_t index, const char* key) {
    const base::List* fetches = nullptr;
    const base::Dictionary* fetch = nullptr;
    std::string value;
    if (record_.tree.GetList("fetches", &fetches) && fetches->GetDictionary(index, &fetch))
      (void)fetch->GetString(key, &value);  // a missing member reads as empty
    return value;
  }

  base::FilePath PackageFile(const wchar_t* name) {
    return fetcher_->package_folder().Append(name);
  }

  base::ScopedCommandLine command_line_;
  base::MessageLoop loop_;
  testing::UpdateServer server_;
  testing::NoWindowUIDelegate ui_;
  testing::TestStatsRecord record_;
  std::unique_ptr<PayloadReader> payload_;
  // That of an unsigned test build unless a case says otherwise.
  SignatureRule rule_ = SignatureRule::kNotRequired;
  base::FilePath download_folder_;
  // The product's unless a case sets it.
  base::TimeDelta additional_files_deadline_;
  std::unique_ptr<PackageFetcher> fetcher_;
  std::vector<int> statuses_;
  base::RunLoop* run_loop_ = nullptr;
};

TEST_F(PackageFetcherTest, NetRouteDownloadsChecksUnpacksAndPlacesPartnerFiles) {
  UseRunningInstaller("unsigned.exe", "partner=acme");
  ASSERT_TRUE(server_.ServeFile("/a.exe", "partner a"));
  ASSERT_TRUE(server_.ServeFile("/b.exe", "partner b"));
  ASSERT_TRUE(server_.ServeFile("/x.exe", "escapes"));
  // A file's download retries the product's two counted failures: three busy answers
  // (three waits of the product's six seconds) and it is still fetched.
  ASSERT_TRUE(server_.AddFaults("/b.exe", R"([{"status": 503, "times": 3}])"));
  ServePackage(Signing("package_unsigned.exe"),
               R"("url_welcome": "https://welcome.example/", "components": [)"
               R"({"type": "partner_content", "location": "{base}/a.exe", "archive": 0,)"
               R"( "checksum": ")" +
                   Sha256("partner a") +
                   R"(", "filename": "a.exe"},)"
                   R"({"type": "assistant", "location": "{base}/c.exe", "archive": 0,)"
                   R"( "checksum": "", "filename": "c.exe"},)"
                   R"({"type": "partner_content", "location": "{base}/x.exe", "archive": 0,)"
                   R"( "checksum": ")" +
                   Sha256("escapes") +
                   R"(", "filename": "..\\..\\x.exe"},)"
                   R"({"type": "partner_content", "location": "{base}/b.exe", "archive": 0,)"
                   R"( "checksum": ")" +
                   Sha256("partner b") + R"(", "filename": "b.exe"}])");
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5}), statuses_);

  // The address request carried the tracking data.
  std::vector<testing::RecordedRequest> requests = server_.RequestsTo("/netinstaller/address");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("partner=acme", requests[0].body);
  // An assistant is not fetched; a name that leaves the folder is refused unfetched.
  EXPECT_TRUE(server_.RequestsTo("/c.exe").empty());
  EXPECT_TRUE(server_.RequestsTo("/x.exe").empty());
  EXPECT_FALSE(base::PathExists(Path(L"x.exe")));

  EXPECT_EQ("velum browser\n", ReadAll(PackageFile(L"velum.exe")));
  EXPECT_EQ("partner a", ReadAll(PackageFile(L"a.exe")));
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\na.exe\r\nb.exe\r\n",
            ReadAll(PackageFile(L"files_list")));
  EXPECT_EQ("partner=acme", ReadAll(PackageFile(L"server_tracking_data")));
  std::unique_ptr<base::Value> prefs =
      base::JsonReader::Read(ReadAll(PackageFile(L"installer_prefs_include.json")));
  const base::Dictionary* dictionary = nullptr;
  std::string welcome;
  ASSERT_TRUE(prefs && prefs->GetAsDictionary(&dictionary));
  EXPECT_TRUE(dictionary->GetString("welcome-url", &welcome));
  EXPECT_EQ("https://welcome.example/", welcome);

  EXPECT_EQ("package_ready", FetchString(0, "result"));
  EXPECT_EQ(GetBuildAndPatchNumber(), FetchString(0, "internal_version"));
  EXPECT_EQ(GetChannelName(), FetchString(0, "stream"));
  EXPECT_NE(std::string::npos, FetchString(0, "download_url").find("/package.exe"));
  EXPECT_EQ(4u, server_.RequestsTo("/b.exe").size());

  // The next try's requests retry as the package's do again, not as the last file's: an
  // address answered busy four times is still taken.
  ASSERT_TRUE(server_.AddFaults("/b.exe", "[]"));
  ASSERT_TRUE(server_.AddFaults("/netinstaller/address", R"([{"status": 503, "times": 4}])"));
  ASSERT_TRUE(fetcher_->Retry());
  EXPECT_EQ(PACKAGE_STATUS_READY, RunUntilTryEnds());
  EXPECT_EQ(6u, server_.RequestsTo("/netinstaller/address").size());
}

TEST_F(PackageFetcherTest, SignedInstallerNeedsASignedPackage) {
  UseRunningInstaller("signed.exe");
  rule_ = SignatureRule::kRequired;  // a signed build's
  ServePackage(Signing("package_signed.exe"));
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_EQ("GET", server_.RequestsTo("/netinstaller/address").at(0).method);
  // Without tracking data nothing is left for the browser.
  EXPECT_FALSE(base::PathExists(PackageFile(L"server_tracking_data")));
  EXPECT_TRUE(base::PathExists(PackageFile(L"velum.exe")));

  statuses_.clear();
  fetcher_.reset();
  ServePackage(Signing("package_unsigned.exe"));
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  EXPECT_EQ("Signature incorrect for the downloaded package", FetchString(1, "failure_reason"));
  EXPECT_NE(std::string::npos,
            FetchString(1, "signature_check_error").find("Cannot CryptQueryObject:"));
}

TEST_F(PackageFetcherTest, FullPackageInstallerNeverAsksTheServer) {
  UseRunningInstaller("package_unsigned.exe");
  ASSERT_EQ(PayloadReader::FULL_PACKAGE, payload_->type());
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_EQ((std::vector<int>{0, 3, 5}), statuses_);
  EXPECT_TRUE(server_.Requests().empty());
  EXPECT_EQ("strings\n", ReadAll(PackageFile(L"resources\\strings.txt")));
  // The package's own list is left as it came.
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\n", ReadAll(PackageFile(L"files_list")));

  // Ending the fetcher removes what it made.
  const base::FilePath package_folder = fetcher_->package_folder();
  fetcher_.reset();
  EXPECT_FALSE(base::PathExists(package_folder));
}

TEST_F(PackageFetcherTest, FailuresEndTheTryWithTheirStatusAndReason) {
  std::string no_payload = Signing("unsigned.exe");
  std::string damaged = Signing("package_unsigned.exe");
  damaged[damaged.size() - 12] ^= 0x55;  // inside the 7z archive's header
  struct Case {
    const char* name;
    std::string package;
    std::string reply_json;  // replaces the whole reply when not empty
    std::string checksum;
    const char* version;
    const char* stream;
    int status;
    const char* reason;
  } cases[] = {
      {"no installer", Signing("package_unsigned.exe"), R"({"installer_checksum": "00"})", "",
       nullptr, nullptr, PACKAGE_STATUS_DOWNLOAD_FAILED, "Missing full package url"},
      {"not a dictionary", "", "[1, 2]", "", nullptr, nullptr, PACKAGE_STATUS_DOWNLOAD_FAILED,
       "Content is not a dictionary"},
      {"checksum", Signing("package_unsigned.exe"), "", std::string(64, '0'), nullptr, nullptr,
       PACKAGE_STATUS_DOWNLOAD_FAILED, "Checksum incorrect for the downloaded package"},
      {"older", Signing("package_unsigned.exe"), "", "", "99.9", nullptr,
       PACKAGE_STATUS_DOWNLOAD_FAILED, "Downloaded package failed version check"},
      {"other stream", Signing("package_unsigned.exe"), "", "", nullptr, "beta",
       PACKAGE_STATUS_DOWNLOAD_FAILED, "Downloaded package failed version check"},
      {"no payload", no_payload, "", "", nullptr, nullptr, PACKAGE_STATUS_DOWNLOAD_FAILED,
       "Could not find 7z payload in full package"},
      {"damaged archive", damaged, "", "", nullptr, nullptr, PACKAGE_STATUS_UNPACKING_FAILED,
       "Archive unpacking failed failed with error 6"},
  };
  UseRunningInstaller("unsigned.exe");
  size_t index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetStubAnswers(c.version ? c.version : GetBuildAndPatchNumber(),
                   c.stream ? c.stream : GetChannelName());
    std::string address = "/netinstaller/address";
    if (c.reply_json.empty()) {
      ServePackage(c.package, "", c.checksum);
    } else {
      address = "/reply/" + std::to_string(index);
      ASSERT_TRUE(server_.ServeText(address, 200, c.reply_json));
    }
    command_line_.Get()->AppendSwitchNative("internal-package-server", server_.Url(address));
    statuses_.clear();
    fetcher_.reset();
    EXPECT_EQ(c.status, Fetch());
    EXPECT_EQ(c.reason, FetchString(index, "failure_reason"));
    EXPECT_EQ(PackageStatusToString(c.status), FetchString(index, "result"));
    if (!c.reply_json.empty()) {
      EXPECT_EQ(c.reply_json, FetchString(index, "corrupted_json_content"));
    }
    ++index;
  }

  // An address server that answers with an error.
  command_line_.Get()->AppendSwitchNative("internal-package-server",
                                          server_.Url("/netinstaller/address"));
  ASSERT_TRUE(server_.AddFaults("/netinstaller/address", R"([{"status": 404, "times": 1}])"));
  statuses_.clear();
  fetcher_.reset();
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  EXPECT_EQ(
      0u,
      FetchString(index, "failure_reason").find("Failed fetching the download URL with state 4\n"));
}

TEST_F(PackageFetcherTest, PackageFolderThatCannotBeClearedFailsTheStart) {
  UseRunningInstaller("package_unsigned.exe");
  fetcher_.reset(new PackageFetcher(download_folder_, record_.root.Clone(), &ui_, this,
                                    payload_.get(), 1, false));
  ASSERT_TRUE(base::CreateDirectory(fetcher_->package_folder()));
  const base::FilePath busy = fetcher_->package_folder().Append(L"busy.txt");
  base::ScopedHandle file(CreateFileW(busy.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  fetcher_->Start();
  EXPECT_EQ(PACKAGE_STATUS_INITIALIZATION_FAILED, RunUntilTryEnds());
  EXPECT_EQ((std::vector<int>{0, 6}), statuses_);
  EXPECT_EQ("Unable to remove the package folder", FetchString(0, "failure_reason"));
  EXPECT_EQ("initialization_failed", FetchString(0, "result"));
  file.Close();
}

// The local time |seconds| after |start| as a run's stem writes it, YYYYMMDDhhmmss.
std::wstring LocalTimeAfter(const SYSTEMTIME& start, int seconds) {
  FILETIME file_time;
  EXPECT_TRUE(SystemTimeToFileTime(&start, &file_time));
  ULARGE_INTEGER ticks;
  ticks.LowPart = file_time.dwLowDateTime;
  ticks.HighPart = file_time.dwHighDateTime;
  ticks.QuadPart += static_cast<ULONGLONG>(seconds) * 10000000;
  file_time.dwLowDateTime = ticks.LowPart;
  file_time.dwHighDateTime = ticks.HighPart;
  SYSTEMTIME then;
  EXPECT_TRUE(FileTimeToSystemTime(&file_time, &then));
  wchar_t text[16];
  swprintf(text, 16, L"%04d%02d%02d%02d%02d%02d", then.wYear, then.wMonth, then.wDay, then.wHour,
           then.wMinute, then.wSecond);
  return text;
}

// Every name this run could take held by other runs: the try fails with its reason and
// writes nothing under their names.
TEST_F(PackageFetcherTest, NoFreePackageNameFailsTheStart) {
  UseRunningInstaller("package_unsigned.exe");
  // Held for the minute from one reading of the clock, so that the fetcher's own second is
  // among them however long taking them lasts.
  SYSTEMTIME start;
  GetLocalTime(&start);
  std::vector<std::unique_ptr<PackageLock>> others;
  for (int second = -1; second < 60; ++second) {
    const std::wstring time = LocalTimeAfter(start, second);
    for (int i = 0; i < 16; ++i) {
      others.push_back(std::make_unique<PackageLock>());
      static_cast<void>(others.back()->AcquireNewStem(download_folder_, time,
                                                      GetCurrentProcessId()));
      ASSERT_TRUE(others.back()->held());
    }
  }
  EXPECT_EQ(PACKAGE_STATUS_INITIALIZATION_FAILED, Fetch());
  EXPECT_TRUE(fetcher_->installer_path().empty());
  EXPECT_EQ("No package name is free for this run", FetchString(0, "failure_reason"));
  others.clear();
  base::FileEnumerator left(download_folder_,
                            base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(left.Next().empty());
}

// A try that ends before it downloads reports none of the previous try's bytes or status.
TEST_F(PackageFetcherTest, ATryThatFailsBeforeDownloadingCountsNothingOfTheTryBefore) {
  UseRunningInstaller("unsigned.exe");
  ServePackage("small package", "", std::string(64, '0'));
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  ASSERT_TRUE(base::CreateDirectory(fetcher_->package_folder()));
  base::ScopedHandle file(CreateFileW(PackageFile(L"busy.txt").value().c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  ASSERT_TRUE(fetcher_->Retry());
  EXPECT_EQ(PACKAGE_STATUS_INITIALIZATION_FAILED, RunUntilTryEnds());
  file.Close();
  int total = -1;
  EXPECT_TRUE(record_.tree.GetInteger("total_bytes_received", &total));
  EXPECT_EQ(13, total);
  int bytes = -1;
  const base::List* fetches = nullptr;
  const base::Dictionary* second = nullptr;
  ASSERT_TRUE(record_.tree.GetList("fetches", &fetches) && fetches->GetDictionary(1, &second));
  EXPECT_TRUE(second->GetInteger("bytes_received", &bytes));
  EXPECT_EQ(0, bytes);
}

// What the server names is bounded in the record, and only http and https are fetched.
TEST_F(PackageFetcherTest, ServerTextIsBoundedAndOnlyHttpAddressesAreFetched) {
  const std::string huge(100000, 'u');
  struct Case {
    const char* name;
    std::string reply;
    const char* reason;
  } cases[] = {
      {"ftp", R"({"installer": "ftp://127.0.0.1/package.exe", "installer_checksum": "00"})",
       "Full package url is not an http or https URL"},
      {"long url", R"({"installer": "http://127.0.0.1/)" + huge + R"(", "installer_checksum": "0"})",
       "Full package url is not an http or https URL"},
      {"long answer", R"({"installer": 1, "more": ")" + huge + "\"}",
       "Full package url is not a string"},
      // Texts Wine's URL cracker crashes on.
      {"crash text", R"({"installer": "x:@.", "installer_checksum": "00"})",
       "Full package url is not an http or https URL"},
      {"long file text",
       R"({"installer": "file://)" + std::string(300, 'a') + R"(@.", "installer_checksum": "0"})",
       "Full package url is not an http or https URL"},
      // Read as "HTTP://" reads it, the port is over 65535 (and wraps round to the
      // server's own).
      {"backslash authority",
       R"({"installer": "HTTP://e2e\\x@127.0.0.1:)" + std::to_string(server_.port() + 65536) +
           R"(/package.exe", "installer_checksum": "00"})",
       "Full package url is not an http or https URL"},
  };
  UseRunningInstaller("unsigned.exe");
  size_t index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string address = "/reply/" + std::to_string(index);
    ASSERT_TRUE(server_.ServeText(address, 200, c.reply));
    command_line_.Get()->AppendSwitchNative("internal-package-server", server_.Url(address));
    fetcher_.reset();
    EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
    EXPECT_EQ(c.reason, FetchString(index, "failure_reason"));
    EXPECT_EQ("", FetchString(index, "download_url"));
    EXPECT_LE(FetchString(index, "corrupted_json_content").size(), 2100u);
    ++index;
  }
  // A checksum of a megabyte, refused and quoted.
  command_line_.Get()->AppendSwitchNative("internal-package-server",
                                          server_.Url("/netinstaller/address"));
  ServePackage("small package", "", std::string(1000000, 'f'));
  fetcher_.reset();
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  EXPECT_EQ("Full package checksum is not 64 lower-case hexadecimal digits",
            FetchString(index, "failure_reason"));
  const std::string json = record_.Json();
  EXPECT_LT(json.size(), 16000u);
  // An answer beyond a mebibyte is not taken, however well formed the address it names.
  ++index;
  ASSERT_TRUE(server_.ServeText(
      "/reply/long", 200,
      R"({"installer": ")" + base::WideToUTF8(server_.Url("/package.exe")) +
          R"(", "installer_checksum": ")" + std::string(64, '0') + R"(", "more": ")" +
          std::string(1024 * 1024, 'u') + "\"}"));
  command_line_.Get()->AppendSwitchNative("internal-package-server", server_.Url("/reply/long"));
  fetcher_.reset();
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  EXPECT_EQ(0u, FetchString(index, "failure_reason")
                    .find("Failed fetching the download URL with state 4\n"))
      << FetchString(index, "failure_reason");
  // Nothing but the address requests went out.
  EXPECT_EQ(0u, server_.RequestsTo("/package.exe").size());
}

// The checksum is compared as 64 lower-case hexadecimal digits once the package is in:
// one that can never match ends the try before the package is asked for.
TEST_F(PackageFetcherTest, AChecksumThatCanNeverMatchFailsBeforeTheDownload) {
  const std::string package = Signing("package_unsigned.exe");
  const std::string right = Sha256(package);
  std::string upper = right;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  const std::string checksums[] = {"0", right.substr(0, 63), right + "0", upper,
                                   right.substr(0, 63) + "g"};
  UseRunningInstaller("unsigned.exe");
  size_t index = 0;
  for (const std::string& checksum : checksums) {
    SCOPED_TRACE(checksum);
    ServePackage(package, "", checksum);
    fetcher_.reset();
    EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
    EXPECT_EQ("Full package checksum is not 64 lower-case hexadecimal digits",
              FetchString(index++, "failure_reason"));
    EXPECT_TRUE(server_.RequestsTo("/package.exe").empty());
  }
}

TEST_F(PackageFetcherTest, RetriesAreLimitedByBytesAndEmptyAnswers) {
  UseRunningInstaller("unsigned.exe");
  // A small package whose checksum never matches: six tries.
  ServePackage("small package", "", std::string(64, '0'));
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  for (int retry = 1; retry < 6; ++retry) {
    SCOPED_TRACE(retry);
    ASSERT_TRUE(fetcher_->Retry());
    EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, RunUntilTryEnds());
  }
  EXPECT_FALSE(fetcher_->Retry());

  // Three answers without content: three tries.
  fetcher_.reset();
  ASSERT_TRUE(server_.AddFaults("/netinstaller/address", R"([{"status": 204, "times": 3}])"));
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  for (int retry = 1; retry < 3; ++retry) {
    ASSERT_TRUE(fetcher_->Retry());
    EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, RunUntilTryEnds());
  }
  EXPECT_FALSE(fetcher_->Retry());

  // Once 4 MiB came in, three tries.
  fetcher_.reset();
  ServePackage(std::string(4 * 1024 * 1024, 'x'), "", std::string(64, '0'));
  EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, Fetch());
  for (int retry = 1; retry < 3; ++retry) {
    ASSERT_TRUE(fetcher_->Retry());
    EXPECT_EQ(PACKAGE_STATUS_DOWNLOAD_FAILED, RunUntilTryEnds());
  }
  EXPECT_FALSE(fetcher_->Retry());
}

// Bodies of 2 GiB and more count as large: the 32-bit byte total saturates instead of
// wrapping round to negative, so three tries are allowed as for any 4 MiB and more.
TEST(PackageFetcherRetryTest, ByteTotalsSaturateSoLargeBodiesAllowThreeTries) {
  const uint32_t kGiB = 1u << 30;
  const struct {
    std::vector<uint32_t> received;  // by each try
    int32_t total;
    int tries;
  } cases[] = {
      {{4 * 1024 * 1024 - 1}, 4 * 1024 * 1024 - 1, 6},
      {{4 * 1024 * 1024}, 4 * 1024 * 1024, 3},
      {{2 * kGiB}, INT32_MAX, 3},
      {{UINT32_MAX}, INT32_MAX, 3},
      {{kGiB + kGiB / 2, kGiB + kGiB / 2}, INT32_MAX, 3},
      {{2 * kGiB, 5}, INT32_MAX, 3},
  };
  for (const auto& c : cases) {
    int32_t total = 0;
    for (uint32_t bytes : c.received) total = PackageFetcherWorker::AddReceivedBytes(total, bytes);
    EXPECT_EQ(c.total, total) << c.received[0];
    int tries = 0;
    while (PackageFetcherWorker::AllowsRetry(tries, 0, total)) ++tries;
    EXPECT_EQ(c.tries, tries) << c.received[0];
    // The statistics' value of one try.
    EXPECT_EQ(std::min<uint32_t>(c.received[0], INT32_MAX), SaturatedByteCount(c.received[0]));
  }
}

// The additional files of a try end at their deadline: the file being fetched from a
// server that keeps the rate a try must keep, without end, is given up, the rest left
// out, and the package is ready without them, their entry saying so.
TEST_F(PackageFetcherTest, AdditionalFilesEndAtTheirDeadline) {
  UseRunningInstaller("unsigned.exe");
  const std::string slow(1 << 20, 's');
  ASSERT_TRUE(server_.ServeFile("/slow.exe", slow));
  ASSERT_TRUE(server_.AddFaults("/slow.exe", R"([{"trickle": 0.5, "bytes": 4096}])"));
  ASSERT_TRUE(server_.ServeFile("/later.exe", "later"));
  std::string components;
  for (const char* name : {"slow.exe", "later.exe"}) {
    components += std::string(components.empty() ? "" : ",") +
                  R"({"type": "partner_content", "location": "{base}/)" + name +
                  R"(", "archive": 0, "checksum": ")" +
                  Sha256(name == std::string("slow.exe") ? slow : "later") +
                  R"(", "filename": ")" + name + "\"}";
  }
  ServePackage(Signing("package_unsigned.exe"), R"("components": [)" + components + "]");
  additional_files_deadline_ = base::TimeDelta::FromSeconds(2);
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_FALSE(base::PathExists(PackageFile(L"slow.exe")));
  EXPECT_TRUE(server_.RequestsTo("/later.exe").empty());
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\n\r\n", ReadAll(PackageFile(L"files_list")));
  // The file given up has its entry, ended and not downloaded; the one left out none.
  const std::string json = record_.Json();
  EXPECT_NE(std::string::npos,
            json.find(R"({"download_succeeded":0,"download_tries":[{"download_end_time")"))
      << json;
  EXPECT_EQ(std::string::npos, json.find("later.exe")) << json;
}

// Partner files were checked only by the server's own checksum: one named after a file
// of the package replaced it, and device names in forms Windows resolves passed.
TEST_F(PackageFetcherTest, PartnerFilesNeverReplaceThePackageNorNameDevices) {
  UseRunningInstaller("unsigned.exe");
  const char* const refused[] = {
      "velum.exe",      "VELUM.EXE",        "files_list",     "Files_List",
      "resources",      "velum.exe.",       "velum.exe ",     "nul\\u0000txt",
      "a\\u0001b.exe",  "com\\u00b9",       "LPT\\u00b2.txt", "Con .txt",
  };
  std::string components;
  for (size_t i = 0; i < sizeof(refused) / sizeof(refused[0]); ++i) {
    components += R"({"type": "partner_content", "location": "{base}/refused)" +
                  std::to_string(i) + R"(", "archive": 0, "checksum": ")" + Sha256("hostile") +
                  R"(", "filename": ")" + refused[i] + "\"},";
    ASSERT_TRUE(server_.ServeFile("/refused" + std::to_string(i), "hostile"));
  }
  ASSERT_TRUE(server_.ServeFile("/ok.exe", "partner"));
  ServePackage(Signing("package_unsigned.exe"),
               R"("components": [)" + components +
                   R"({"type": "partner_content", "location": "{base}/ok.exe", "archive": 0,)"
                   R"( "checksum": ")" +
                   Sha256("partner") + R"(", "filename": "ok.exe"}])");
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  for (size_t i = 0; i < sizeof(refused) / sizeof(refused[0]); ++i) {
    EXPECT_TRUE(server_.RequestsTo("/refused" + std::to_string(i)).empty()) << refused[i];
  }
  EXPECT_EQ("velum browser\n", ReadAll(PackageFile(L"velum.exe")));
  EXPECT_EQ("partner", ReadAll(PackageFile(L"ok.exe")));
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\nok.exe\r\n",
            ReadAll(PackageFile(L"files_list")));
  // Each refusal is a failed component in the statistics.
  const base::List* fetches = nullptr;
  const base::Dictionary* fetch = nullptr;
  const base::List* files = nullptr;
  ASSERT_TRUE(record_.tree.GetList("fetches", &fetches) && fetches->GetDictionary(0, &fetch) &&
              fetch->GetList("additional_files", &files));
  ASSERT_EQ(sizeof(refused) / sizeof(refused[0]) + 1, files->size());
  for (size_t i = 0; i < files->size(); ++i) {
    const base::Dictionary* file = nullptr;
    int succeeded = -1;
    ASSERT_TRUE(files->GetDictionary(i, &file));
    EXPECT_TRUE(file->GetInteger("download_succeeded", &succeeded));
    EXPECT_EQ(i + 1 == files->size() ? 1 : 0, succeeded) << i;
  }
}

// The lists may name files the folder lacks (a root file the package carries elsewhere):
// a partner file named like one of them, in any case, is refused as well.
TEST(PartnerFileNameTest, ListedNamesAreTakenInAnyCase) {
  base::ScratchDir package;
  ASSERT_TRUE(base::WriteTextFile(package.path().Append(L"velum.exe"), "x"));
  ASSERT_TRUE(base::WriteTextFile(package.path().Append(L"files_list"),
                                  "velum.exe\r\nresources\\strings.txt\r\n"));
  ASSERT_TRUE(base::WriteTextFile(package.path().Append(L"root_files_list"),
                                  "velum_visual_elements.xml\r\n"));
  const struct {
    const wchar_t* name;
    bool taken;
  } cases[] = {
      {L"VELUM.EXE", true},    {L"Velum_Visual_Elements.XML", true}, {L"FILES_LIST", true},
      {L"other.exe", false},   {L"strings.txt", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.taken, IsTakenInPackage(package.path(), c.name)) << c.name;
}

TEST_F(PackageFetcherTest, ComponentFailureStillFinishesTheFileList) {
  UseRunningInstaller("unsigned.exe");
  // The components' download file cannot be opened: the rest is skipped, the package is
  // still ready and the list still gets its line end.
  ASSERT_TRUE(base::CreateDirectory(download_folder_.Append(L"additional_file.tmp")));
  ASSERT_TRUE(server_.ServeFile("/a.exe", "partner a"));
  ServePackage(Signing("package_unsigned.exe"),
               R"("components": [{"type": "partner_content", "location": "{base}/a.exe",)"
               R"( "archive": 0, "checksum": ")" +
                   Sha256("partner a") + R"(", "filename": "a.exe"}])");
  additional_files_deadline_ = base::TimeDelta::FromSeconds(2);
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\n\r\n", ReadAll(PackageFile(L"files_list")));
  EXPECT_TRUE(server_.RequestsTo("/a.exe").empty());
  // The phase's deadline, come after the phase ended, reports nothing: a try started on the
  // worker after it is what comes next.
  const size_t reported = statuses_.size();
  fetcher_->SetRetryDelayForTesting(additional_files_deadline_);
  ASSERT_TRUE(fetcher_->Retry());
  RunUntilTryEnds();
  ASSERT_LT(reported, statuses_.size());
  EXPECT_EQ(PACKAGE_STATUS_STARTED, statuses_[reported]);
}

// An answer's additional files are bounded as a whole: the first twenty are taken, and
// their tries are counted together: a file that never matches its checksum is asked for
// four times when it fails first, once when an earlier file has used the count up.
TEST_F(PackageFetcherTest, OnlyTheFirstTwentyAdditionalFilesAreTakenWithOneTryCountForAll) {
  UseRunningInstaller("unsigned.exe");
  std::string components, names;
  for (int i = 0; i <= 20; ++i) {
    const std::string name = "f" + std::to_string(i) + ".exe";
    const bool fails = i == 0 || i == 5;
    ASSERT_TRUE(server_.ServeFile("/" + name, fails ? "never matches" : name));
    components += R"({"type": "partner_content", "location": "{base}/)" + name +
                  R"(", "archive": 0, "checksum": ")" + Sha256(name) + R"(", "filename": ")" +
                  name + (i < 20 ? "\"}," : "\"}");
    if (!fails && i < 20) names += name + "\r\n";
  }
  ServePackage(Signing("package_unsigned.exe"), R"("components": [)" + components + "]");
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  // Without the test's own deadline, the product's ten minutes bound them.
  EXPECT_EQ(10 * 60 * 1000, fetcher_->AdditionalFilesDeadlineForTesting().InMilliseconds());
  EXPECT_EQ(4u, server_.RequestsTo("/f0.exe").size());
  EXPECT_EQ(1u, server_.RequestsTo("/f5.exe").size());
  EXPECT_TRUE(server_.RequestsTo("/f20.exe").empty());
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\n" + names,
            ReadAll(PackageFile(L"files_list")));
}

TEST_F(PackageFetcherTest, ArchiveComponentIsExtractedAndChecked) {
  UseRunningInstaller("unsigned.exe");
  // The stand-in acts as the self-extractor that brings the component's installer.
  const std::string sfx = Signing("unsigned.exe");
  ASSERT_TRUE(server_.ServeFile("/sfx.exe", sfx));
  ServePackage(Signing("package_unsigned.exe"),
               R"("components": [{"type": "partner_content", "location": "{base}/sfx.exe",)"
               R"( "archive": 1, "checksum": ")" +
                   Sha256(sfx) + R"("}])");
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_TRUE(base::PathExists(PackageFile(L"partner_content_installer.exe")));
  // The archive stays for an elevated installation to make the component from, and goes
  // with the fetcher's other files once the installation has ended.
  const base::FilePath archive = PackageFile(L"partner_content_sfx.exe");
  EXPECT_TRUE(base::PathExists(archive));
  EXPECT_EQ("velum.exe\r\nresources\\strings.txt\r\n\r\n", ReadAll(PackageFile(L"files_list")));
  const std::string json = record_.Json();
  EXPECT_NE(std::string::npos, json.find("\"download_succeeded\":1")) << json;

  // A component older than the installer is not kept.
  statuses_.clear();
  fetcher_.reset();
  EXPECT_FALSE(base::PathExists(archive));
  SetEnvironmentVariableA("VELUM_STUB_COMPONENT_VERSION", "1.0");
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  EXPECT_TRUE(base::PathExists(PackageFile(L"partner_content_sfx.exe")));
  EXPECT_NE(std::string::npos, record_.Json().find("\"download_succeeded\":0"));
}

// The product's own installer named as an archive is refused before it could run, with
// the reason the elevated road gives; nothing of it is placed.
TEST_F(PackageFetcherTest, TheProductsOwnInstallerIsNeverRunAsAnArchive) {
  UseRunningInstaller("unsigned.exe");
  const std::string own = Signing("package_unsigned.exe");
  ASSERT_TRUE(server_.ServeFile("/VelumSetup.exe", own));
  ServePackage(own, R"("components": [{"type": "partner_content",)"
                    R"( "location": "{base}/VelumSetup.exe", "archive": 1, "checksum": ")" +
                        Sha256(own) + R"("}])");
  const base::FilePath record = Path(L"started.txt");
  const testing::ScopedEnvironmentVariable recording(L"VELUM_STUB_RECORD", record.value());
  base::ScopedLogCapture log;
  EXPECT_EQ(PACKAGE_STATUS_READY, Fetch());
  // The package itself was asked its version: the record shows starts.
  EXPECT_NE(std::string::npos, ReadAll(record).find("--internal-version"));
  EXPECT_EQ(std::string::npos, ReadAll(record).find("_sfx.exe")) << ReadAll(record);
  EXPECT_FALSE(base::PathExists(PackageFile(L"partner_content_installer.exe")));
  const std::vector<std::string> refusals = log.LinesStartingWith("Not starting SFX archive");
  EXPECT_EQ(1u, refusals.size());
  for (const std::string& refusal : refusals) {
    EXPECT_NE(std::string::npos,
              refusal.find("it carries this product's payload: an installer, not an archive"))
        << refusal;
  }
  EXPECT_NE(std::string::npos, record_.Json().find("\"download_succeeded\":0"));
}

TEST(FetcherDelegateProxyTest, ReportsReachTheMakingThreadUntilCleared) {
  base::MessageLoop loop;
  testing::NoWindowUIDelegate ui;
  testing::RecordingFetcherDelegate progress;
  base::scoped_refptr<FetcherDelegateProxy> proxy(new FetcherDelegateProxy(&ui, &progress));
  base::Thread worker("proxy test worker");
  ASSERT_TRUE(worker.Start());
  worker.GetTaskRunner()->PostTask(FROM_HERE, base::Bind(
                                                  [](FetcherDelegateProxy* proxy) {
                                                    proxy->NotifyStatusChanged(3);
                                                    proxy->SetTotalProgress(10);
                                                    proxy->SetCurrentProgress(4);
                                                    proxy->NotifyStalled(0);
                                                    proxy->RunUICallbackAndPostReply(
                                                        FetcherUIDelegate::UICallback(),
                                                        base::MessageLoop::Current()->task_runner(),
                                                        FetcherUIDelegate::Reply());
                                                  },
                                                  proxy.get()));
  worker.Stop();
  // Everything was posted to this thread, in order; nothing ran on the worker.
  EXPECT_TRUE(progress.statuses.empty());
  base::RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ(std::vector<int>{3}, progress.statuses);
  EXPECT_EQ(std::vector<uint32_t>{10}, progress.totals);
  EXPECT_EQ(4u, progress.current);
  EXPECT_EQ(std::vector<uint32_t>{0}, progress.stalls);
  EXPECT_EQ(1, ui.calls());

  proxy->ClearDelegates();
  proxy->NotifyStatusChanged(5);
  base::RunLoop after_clear;
  after_clear.QuitWhenIdle();
  after_clear.Run();
  EXPECT_EQ(std::vector<int>{3}, progress.statuses);
}

TEST(PackageStatusTest, Texts) {
  EXPECT_EQ("package_ready", PackageStatusToString(5));
  EXPECT_EQ("initialization_failed", PackageStatusToString(6));
  EXPECT_EQ("download_failed", PackageStatusToString(7));
  EXPECT_EQ("unpacking_failed", PackageStatusToString(8));
  EXPECT_EQ("invalid", PackageStatusToString(0));
  EXPECT_EQ("invalid", PackageStatusToString(9));
}

TEST(MakeTimestampedFileNameTest, NameCarriesTheLocalTime) {
  const std::wstring name =
      MakeTimestampedFileName(base::FilePath(L"C:\\dl"), L"velum_installer").value();
  ASSERT_EQ(std::wstring(L"C:\\dl\\velum_installer_").size() + 14 + 4, name.size()) << name;
  EXPECT_EQ(0u, name.find(L"C:\\dl\\velum_installer_2"));
  EXPECT_EQ(name.size() - 4, name.rfind(L".exe"));
}

}  // namespace
}  // namespace installer
