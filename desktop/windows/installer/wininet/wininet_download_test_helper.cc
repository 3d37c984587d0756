// Downloads the URL given as the first argument with a front end that has no window,
// writes the downloader's error text to the file given as the second argument and exits
// with the downloader's final state. Tests start it when the download must see an
// environment of its own from the start (WinINet reads "http_proxy" once per process).
#include <windows.h>

#include <memory>
#include <string>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace {

class NoWindowUIDelegate : public installer::FetcherUIDelegate {
 public:
  void RunUICallbackAndPostReply(UICallback /*ui_callback*/,
                                 base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
                                 Reply reply) override {
    reply_runner->PostTask(FROM_HERE, base::Bind([](const Reply& r) { r.Run(0); }, reply));
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 255;
  base::MessageLoop loop;
  NoWindowUIDelegate ui;
  installer::WinInetDownloader downloader(&ui, nullptr);
  base::RunLoop run_loop;
  if (downloader.Start(argv[1], std::string(), run_loop.QuitClosure(),
                       std::unique_ptr<installer::ResponseWriter>(new installer::ResponseWriter),
                       std::unique_ptr<installer::DownloadStatsObserver>(
                           new installer::DownloadStatsObserver))) {
    run_loop.Run();
  }
  const std::string error = downloader.GetLastErrorText();
  const int size = static_cast<int>(error.size());
  if (base::WriteFile(base::FilePath(argv[2]), error.data(), size) != size) return -1;
  return downloader.state();
}
