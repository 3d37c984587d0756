// A message-only window whose messages go to a callback. The UI pump wakes itself
// through one.
#ifndef BASE_WIN_MESSAGE_WINDOW_H_
#define BASE_WIN_MESSAGE_WINDOW_H_

#include <windows.h>

#include "base/callback.h"
#include "base/win/scoped_generic.h"

namespace base {

class MessageWindow {
 public:
  // Returns true when it handled the message and stored the window procedure's result.
  typedef Callback<bool(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result)>
      MessageCallback;

  MessageWindow();
  // Destroys the window.
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Creates the window on the calling thread; false (logged) on failure.
  [[nodiscard]] bool Create(MessageCallback message_callback);
  void Destroy();

  HWND hwnd() const { return window_.Get(); }

  // The window procedure inside its exception guard.
  static LRESULT CALLBACK WrappedWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                            LPARAM lparam);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  MessageCallback message_callback_;
  ScopedWindow window_;
};

}  // namespace base

#endif  // BASE_WIN_MESSAGE_WINDOW_H_
