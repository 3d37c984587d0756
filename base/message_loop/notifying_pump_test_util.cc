#include "base/message_loop/notifying_pump_test_util.h"

#include "base/bind.h"
#include "base/message_loop/message_pump_default.h"

namespace base {

namespace {

class NotifyingPump : public DefaultMessagePump {
 public:
  explicit NotifyingPump(SyncEvent* woken) : woken_(woken) {}
  void ScheduleWork() override {
    DefaultMessagePump::ScheduleWork();
    woken_->Signal();
  }

 private:
  SyncEvent* woken_;
};

std::unique_ptr<MessagePump> MakeNotifyingPump(SyncEvent* woken) {
  return std::unique_ptr<MessagePump>(new NotifyingPump(woken));
}

}  // namespace

std::unique_ptr<MessageLoop> MakeLoopWithNotifyingPump(SyncEvent* woken) {
  std::unique_ptr<MessageLoop> loop =
      MessageLoop::CreateUnbound(MessageLoop::TYPE_CUSTOM, Bind(&MakeNotifyingPump, woken));
  loop->BindToCurrentThread();
  return loop;
}

}  // namespace base
