#include "desktop/windows/installer/package_fetcher/fake_fetcher_delegates_test_util.h"

#include "base/bind.h"
#include "base/location.h"

namespace installer {
namespace testing {

void NoWindowUIDelegate::RunUICallbackAndPostReply(
    UICallback /*ui_callback*/, base::scoped_refptr<base::SequencedTaskRunner> reply_runner,
    Reply reply) {
  ++calls_;
  reply_runner->PostTask(FROM_HERE, base::Bind([](const Reply& r) { r.Run(0); }, reply));
}

void RecordingFetcherDelegate::SetCurrentProgress(uint32_t value) {
  current = value;
  if (on_progress) on_progress();
}

}  // namespace testing
}  // namespace installer
