// Lets the owner of a UI run decide, message by message, what the pump does with a
// Windows message (the wizard uses it for dialog navigation).
#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

#include <windows.h>

#include <stdint.h>

namespace base {

class MessagePumpDispatcher {
 public:
  // Action bits returned by Dispatch.
  enum PostDispatchAction : uint32_t {
    POST_DISPATCH_NONE = 0,
    POST_DISPATCH_QUIT_LOOP = 1,
    POST_DISPATCH_PERFORM_DEFAULT = 2,  // TranslateMessage and DispatchMessageW
  };

  virtual ~MessagePumpDispatcher() = default;
  virtual uint32_t Dispatch(const MSG& message) = 0;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
