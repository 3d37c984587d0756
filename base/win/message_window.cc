#include "base/win/message_window.h"

#include <utility>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/win/wrapped_window_proc.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {

namespace {

const wchar_t kMessageWindowClassName[] = L"Velum_MessageWindow";

// One registered window class per process, unregistered by the exit callbacks.
class WindowClass {
 public:
  WindowClass() : instance_(reinterpret_cast<HINSTANCE>(&__ImageBase)) {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.style = 0;
    window_class.lpfnWndProc = &MessageWindow::WrappedWindowProc;
    window_class.hInstance = instance_;
    window_class.lpszClassName = kMessageWindowClassName;
    registered_.Reset(RegisteredClass{RegisterClassExW(&window_class), instance_});
    if (!registered_.IsValid())
      PLOG(ERROR) << "Failed to register the window class for a message-only window";
  }
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  ATOM atom() const { return registered_.Get().atom; }
  HINSTANCE instance() const { return instance_; }

 private:
  HINSTANCE instance_;
  ScopedRegisteredClass registered_;
};

LazyInstance<WindowClass> g_window_class;

}  // namespace

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() {
  Destroy();
}

bool MessageWindow::Create(MessageCallback message_callback) {
  message_callback_ = std::move(message_callback);
  WindowClass& window_class = g_window_class.Get();
  HWND window = CreateWindowExW(0, MAKEINTATOM(window_class.atom()), nullptr, 0, 0, 0, 0, 0,
                                HWND_MESSAGE, nullptr, window_class.instance(), this);
  if (!window) {
    // A window refused in WM_CREATE is already destroyed by the system.
    window_.Take();
    PLOG(ERROR) << "Failed to create a message-only window";
    return false;
  }
  window_.Reset(window);
  return true;
}

void MessageWindow::Destroy() {
  window_.Reset();
  message_callback_.Reset();
}

// static
LRESULT CALLBACK MessageWindow::WrappedWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam) {
  return CallWindowProcGuarded(&MessageWindow::WindowProc, hwnd, message, wparam, lparam);
}

// static
LRESULT CALLBACK MessageWindow::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                          LPARAM lparam) {
  MessageWindow* self =
      reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      CREATESTRUCTW* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
      self = static_cast<MessageWindow*>(create->lpCreateParams);
      self->window_.Reset(hwnd);
      // 0 is also the previous value; only the last error tells a failure.
      SetLastError(ERROR_SUCCESS);
      LONG_PTR previous = SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      CHECK(previous != 0 || GetLastError() == ERROR_SUCCESS);
      break;
    }
    case WM_DESTROY: {
      SetLastError(ERROR_SUCCESS);
      LONG_PTR previous = SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      CHECK(previous != 0 || GetLastError() == ERROR_SUCCESS);
      break;
    }
  }

  if (self && !self->message_callback_.is_null()) {
    LRESULT result = 0;
    if (self->message_callback_.Run(message, wparam, lparam, &result))
      return result;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace base
