// Plays the user of an interactive installer running in another process, for the
// end-to-end cases: finds its window by title, waits for what it shows, reads texts and
// the progress, clicks, answers its question box, and saves screenshots (never compared).
//
//   wizard_driver_test_helper <step>... [-- <program> <arguments>...]
//
// The steps run in order; the exit code is 0 when every one held, 1 (with a FAIL line)
// at the first that did not. Every wait gives up after a minute, or at once when the
// installer ends before what it waits for.
//   shown:<control>      the window shows <control> (accept, uninstall, cancel, ...)
//   progress-above:<n>   the progress bar stands above <n>
//   text:<control>       prints the control's text
//   screenshot:<name>    saves the window as "<build>\screenshots\<name>.png", drawn by
//                        the window itself (a hook of wizard_screenshot_test_dll.dll)
//   click:<control>      clicks the button
//   close                the title bar's close button
//   answer-yes:<name>    the question box over the window is answered "Yes" (saved as
//                        screenshot <name> first)
//   question:<name>      a question box is over the window; saved as screenshot <name>
//   question-focus:yes|no  the question box's Yes or No button has the keyboard focus
//   no-question          no question box is over the window (any more)
//   key:<key>            presses tab, space, enter, escape, up, down, alt+down, f4, alt+f4
//                        or pagedown where the installer's keyboard focus is
//   focus:<control>      the installer's keyboard focus is on <control>
//   type:<text>          types <text> key by key where the focus is
//   launcher-held        the launcher the installation starts stands still: the fake
//                        program's hold (VELUM_FAKE_PROGRAM_READY_EVENT and _HOLD_EVENT,
//                        made here at the start when set)
//   release-launcher     lets it go on
//   foreground-elsewhere a window of this program becomes the foreground one
//   second-refused       runs the program after "--" as a second instance: it ends with a
//                        failure code, shows no window of its own, and the installer's
//                        window comes to the front
//   windows:<n>          exactly <n> top-level windows carry the installer's title
//   ended                the installer's process ends; prints its exit code
//   drop:<control>       clicks the combo box (the button comes up for its open list,
//                        which holds the mouse): waits until the list is open and the
//                        box has the keyboard focus
//   pick:<control>:<hex> types the character U+<hex> into the combo box (open or not)
//                        and waits until its selection changed
//   hidden:<control>     the window does not show <control> (now: a screenshot first
//                        makes sure the keys before it were handled)
//   minimize             minimises the window
//   rtl:yes|no           the window (title bar included) and its texts read right to
//                        left, or none of them does (a path always reads left to right)
//   page-text:<control>:<text>  the control's text contains <text>
//   backend-ended        no process the installer started runs any more (its backend
//                        has ended)
//   yes-if-asked         a question box still over the window is answered "Yes"
//   list:<control>:open|closed  the combo box's list is open, or closed
//   click-entry:<control>:<n>   clicks, as the mouse, the entry <n> below (negative:
//                        above) the selected one in the box's open list, and waits until
//                        the box shows it
//   second-window        runs the program after "--" as a second instance and waits for
//                        its own window, which the steps after it drive
//   dpi:<n>              this machine draws at <n> pixels per inch
//   enabled:<control>, disabled:<control>  the window's control is usable, or greyed
//   read                 the double-click time passes, as the user reads the page shown:
//                        sooner after it showed, its Accept takes no Enter or Space
//   checked:<control>:yes|no    the check box is ticked, or not
//   double-click-over:<control> double-clicks, as the mouse, where the open language list
//                        lies over <control>: the first click picks the entry there and
//                        closes the list, the second comes to <control> once it has closed
//
// The mouse pointer rests in the screen's corner: an open list follows a pointer over it.
#include <windows.h>

#include <tlhelp32.h>

#include <functional>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/wizard_driver_test_util.h"
#include "desktop/windows/installer/ui/wizard_screenshot_request.h"

namespace installer {
namespace {

using W = InstallerWindow;

// The window's title in the UI language the test machine gets (English).
const wchar_t kTitle[] = L"Velum Installer";
const ULONGLONG kWaitMs = 60000;
const DWORD kPollMs = 20;

const struct {
  const wchar_t* name;
  int id;
} kControls[] = {
    {L"accept", W::ACCEPT_BUTTON},        {L"cancel", W::CANCEL_BUTTON},
    {L"uninstall", W::UNINSTALL_BUTTON},  {L"options", W::OPTIONS_BUTTON},
    {L"back", W::BACK_BUTTON},            {L"retry", W::RETRY_BUTTON},
    {L"headline", W::HEADLINE},           {L"progress_bar", W::PROGRESS_BAR},
    {L"progress_text", W::PROGRESS_TEXT}, {L"thank_you", W::THANK_YOU},
    {L"install_failed", W::INSTALL_FAILED_TITLE},
    {L"uninstall_question", W::UNINSTALL_QUESTION},
    {L"language", W::LANGUAGE_BOX},       {L"mode", W::MODE_BOX},
    {L"path", W::PATH_BOX},               {L"full_package", W::FULL_PACKAGE_BUTTON},
    {L"agreement", W::TERMS_AGREEMENT},   {L"terms", W::TERMS_TEXT},
    {L"warning", W::INVALID_PATH_WARNING}, {L"usage", W::SHARE_STATS_BOX},
};

int ControlId(const std::wstring& name) {
  for (const auto& control : kControls) {
    if (name == control.name) return control.id;
  }
  return 0;
}

std::wstring TitleOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

// The top-level windows for which |match| holds.
std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& match) {
  struct Search {
    const std::function<bool(HWND)>* match;
    std::vector<HWND> found;
  } search = {&match, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        Search* search = reinterpret_cast<Search*>(data);
        if ((*search->match)(window)) search->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Whether the installer |front_end| started runs: a process it started from its own
// program or from the package's installer.exe (its crash reporter may run to the end).
bool BackendRuns(DWORD front_end) {
  base::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return true;
  std::vector<PROCESSENTRY32W> processes;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    processes.push_back(entry);
  }
  std::wstring own_name;
  for (const PROCESSENTRY32W& process : processes) {
    if (process.th32ProcessID == front_end) own_name = process.szExeFile;
  }
  for (const PROCESSENTRY32W& process : processes) {
    if (process.th32ParentProcessID != front_end || process.th32ProcessID == front_end) continue;
    if (_wcsicmp(process.szExeFile, L"installer.exe") == 0 ||
        _wcsicmp(process.szExeFile, own_name.c_str()) == 0) {
      return true;
    }
  }
  return false;
}

DWORD ProcessOf(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  return process_id;
}

class Driver {
 public:
  bool Run(const std::vector<std::wstring>& steps, const base::CommandLine& second);

 private:
  bool Step(const std::wstring& step, const base::CommandLine& second);
  bool Fail(const std::wstring& what);
  // Looks at |condition| until it holds; false (after a FAIL line naming |what|) at the
  // deadline, or when the installer ends first. Wakes early when |also| is signalled.
  bool WaitFor(const std::function<bool()>& condition, const std::wstring& what,
               HANDLE also = nullptr);
  bool InstallerEnded() const;
  // The installer's window, once it exists; remembers its process.
  HWND Window();
  bool WaitShown(int id, const std::wstring& what);
  bool AnswerYes(const std::wstring& screenshot);
  // The visible question box over the window, or null.
  HWND QuestionBox();
  bool WaitQuestion(const std::wstring& screenshot, HWND* box);
  // The window or a control of it (also of its options panel) with |id|.
  HWND Control(int id);
  HWND Focus();
  // Waits for a focus a posted key would reach (not one left in a hidden window).
  bool WaitKeyTarget(HWND* focus);
  bool PressKey(const std::wstring& key);
  bool Type(const std::wstring& text);
  // Saves |window| (of the installer's UI thread) through the hook in that thread.
  bool Screenshot(HWND window, const std::wstring& name);
  bool MakeOwnWindowForeground();
  bool Pick(int id, wchar_t letter, const std::wstring& step);
  bool CheckReadingDirection(bool rtl);
  // Starts the second installer, logging its command line; false, with a failure, when not.
  bool StartSecondInstance(const base::CommandLine& second, PROCESS_INFORMATION* started);
  bool RunRefusedSecondInstance(const base::CommandLine& second);
  bool StartSecondWindow(const base::CommandLine& second);
  // The open list of the combo box |box| (the installer's); null when none shows.
  HWND OpenListOf(HWND box);
  bool ClickEntry(int id, int offset, const std::wstring& step);
  bool DoubleClickOver(int id, const std::wstring& step);
  // The steps that wait on the state of one control.
  bool ControlStep(const std::wstring& name, const std::wstring& value, const std::wstring& step);

  HWND window_ = nullptr;
  // The process whose window the steps drive, once a second instance took over.
  DWORD target_process_ = 0;
  base::ScopedHandle process_;
  base::ScopedHandle launcher_ready_;
  base::ScopedHandle launcher_release_;
  HWND own_window_ = nullptr;
  HHOOK screenshot_hook_ = nullptr;
  DWORD hooked_thread_ = 0;
};

bool Driver::Run(const std::vector<std::wstring>& steps, const base::CommandLine& second) {
  wchar_t ready[256] = {}, release[256] = {};
  if (GetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_READY_EVENT", ready, 256) &&
      GetEnvironmentVariableW(L"VELUM_FAKE_PROGRAM_HOLD_EVENT", release, 256)) {
    launcher_ready_.Set(CreateEventW(nullptr, TRUE, FALSE, ready));
    launcher_release_.Set(CreateEventW(nullptr, TRUE, FALSE, release));
    if (!launcher_ready_.IsValid() || !launcher_release_.IsValid())
      return Fail(L"could not make the launcher's events");
  }
  SetCursorPos(0, 0);
  bool held = true;
  for (const std::wstring& step : steps) {
    if (!Step(step, second)) {
      held = false;
      break;
    }
  }
  // A held launcher would keep the installation from ending.
  if (launcher_release_.IsValid()) SetEvent(launcher_release_.Get());
  if (own_window_) DestroyWindow(own_window_);
  if (screenshot_hook_) UnhookWindowsHookEx(screenshot_hook_);
  return held;
}

bool Driver::Fail(const std::wstring& what) {
  wprintf(L"FAIL: %ls\n", what.c_str());
  fflush(stdout);
  return false;
}

bool Driver::InstallerEnded() const {
  return process_.IsValid() && WaitForSingleObject(process_.Get(), 0) == WAIT_OBJECT_0;
}

bool Driver::WaitFor(const std::function<bool()>& condition, const std::wstring& what,
                     HANDLE also) {
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  for (;;) {
    if (condition()) return true;
    // Looked at again: the installer may have ended since, which is what some wait for.
    if (InstallerEnded()) return condition() || Fail(what + L": the installer ended first");
    if (GetTickCount64() >= deadline) return Fail(what + L": not within a minute");
    // Wakes at the installer's end or |also|, for this program's own window, or to look
    // again at what the other process shows.
    HANDLE handles[2];
    DWORD count = 0;
    if (process_.IsValid()) handles[count++] = process_.Get();
    if (also) handles[count++] = also;
    MsgWaitForMultipleObjects(count, handles, FALSE, kPollMs, QS_ALLINPUT);
    testing::PumpPendingMessages();
  }
}

HWND Driver::Window() {
  if (window_ && IsWindow(window_)) return window_;
  // The question box has the same title: the wizard is the one with the accept button.
  std::vector<HWND> found = TopLevelWindows([this](HWND window) {
    return TitleOf(window) == kTitle && GetDlgItem(window, W::ACCEPT_BUTTON) != nullptr &&
           (!target_process_ || ProcessOf(window) == target_process_);
  });
  if (found.empty()) return nullptr;
  window_ = found.front();
  if (!process_.IsValid()) {
    process_.Set(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                             ProcessOf(window_)));
  }
  return window_;
}

bool Driver::WaitShown(int id, const std::wstring& what) {
  return WaitFor(
      [this, id]() {
        HWND window = Window();
        HWND control = Control(id);
        return window && IsWindowVisible(window) && control &&
               testing::IsControlShown(GetParent(control), id);
      },
      what);
}

HWND Driver::QuestionBox() {
  std::vector<HWND> boxes = TopLevelWindows([this](HWND window) {
    return window_ && window != window_ && IsWindowVisible(window) &&
           GetWindow(window, GW_OWNER) == window_ && GetDlgItem(window, IDYES);
  });
  return boxes.empty() ? nullptr : boxes.front();
}

bool Driver::WaitQuestion(const std::wstring& screenshot, HWND* box) {
  if (!WaitFor([this, box]() { return (*box = QuestionBox()) != nullptr; }, L"a question box"))
    return false;
  // The box shows before it takes the keyboard focus: keys sent in between would reach the
  // window below it.
  if (!WaitFor(
          [this, box]() {
            HWND focus = Focus();
            return focus && (focus == *box || IsChild(*box, focus));
          },
          L"the question box's keyboard focus")) {
    return false;
  }
  wprintf(L"question box \"%ls\"\n", TitleOf(*box).c_str());
  return Screenshot(*box, screenshot);
}

bool Driver::AnswerYes(const std::wstring& screenshot) {
  HWND box = nullptr;
  if (!WaitQuestion(screenshot, &box)) return false;
  testing::ClickButton(box, IDYES);
  return true;
}

HWND Driver::Control(int id) {
  HWND window = Window();
  if (!window) return nullptr;
  HWND control = GetDlgItem(window, id);
  for (HWND panel = GetWindow(window, GW_CHILD); !control && panel;
       panel = GetWindow(panel, GW_HWNDNEXT)) {
    control = GetDlgItem(panel, id);
  }
  return control;
}

HWND Driver::Focus() {
  return Window() ? testing::FocusOf(GetWindowThreadProcessId(window_, nullptr)) : nullptr;
}

bool Driver::WaitKeyTarget(HWND* focus) {
  return WaitFor(
      [this, focus]() {
        return Window() &&
               (*focus = testing::KeyTargetOf(GetWindowThreadProcessId(window_, nullptr)));
      },
      L"a keyboard focus");
}

bool Driver::PressKey(const std::wstring& key) {
  const struct {
    const wchar_t* name;
    WPARAM key;
    bool alt;
  } kKeys[] = {{L"tab", VK_TAB, false},       {L"space", VK_SPACE, false},
               {L"enter", VK_RETURN, false},  {L"escape", VK_ESCAPE, false},
               {L"up", VK_UP, false},         {L"alt+f4", VK_F4, true},
               {L"down", VK_DOWN, false},     {L"alt+down", VK_DOWN, true},
               {L"pagedown", VK_NEXT, false}, {L"f4", VK_F4, false}};
  HWND focus = nullptr;
  if (!WaitKeyTarget(&focus)) return false;
  for (const auto& entry : kKeys) {
    if (key != entry.name) continue;
    // The messages the keyboard would queue for the focused control (Alt held: the
    // system keys, context bit set).
    const UINT down = entry.alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    const UINT up = entry.alt ? WM_SYSKEYUP : WM_KEYUP;
    const LPARAM context = entry.alt ? (1 << 29) : 0;
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(entry.key), MAPVK_VK_TO_VSC);
    const LPARAM lparam = 1 | (static_cast<LPARAM>(scan) << 16) | context;
    PostMessageW(focus, down, entry.key, lparam);
    PostMessageW(focus, up, entry.key, lparam | (1u << 30) | (1u << 31));
    return true;
  }
  return Fail(L"unknown key " + key);
}

bool Driver::Type(const std::wstring& text) {
  for (wchar_t c : text) {
    HWND focus = nullptr;
    if (!WaitKeyTarget(&focus)) return false;
    const std::wstring before = testing::GetControlText(GetParent(focus), GetDlgCtrlID(focus));
    PostMessageW(focus, WM_CHAR, c, 1);
    // One key at a time, as a person types: the next waits until this one is in.
    if (!WaitFor(
            [&]() {
              return testing::GetControlText(GetParent(focus), GetDlgCtrlID(focus)) != before;
            },
            std::wstring(L"the key ") + c + L" typed")) {
      return false;
    }
  }
  return true;
}

bool Driver::Screenshot(HWND window, const std::wstring& name) {
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  // A second instance's window has a thread of its own to hook.
  if (screenshot_hook_ && hooked_thread_ != thread) {
    UnhookWindowsHookEx(screenshot_hook_);
    screenshot_hook_ = nullptr;
  }
  if (!screenshot_hook_) {
    wchar_t own[MAX_PATH] = {};
    std::wstring path(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
    path.resize(path.find_last_of(L'\\') + 1);
    HMODULE hook_module = LoadLibraryW((path + testing::kScreenshotHookDll).c_str());
    auto hook = hook_module ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                  GetProcAddress(hook_module, testing::kScreenshotHookProc)))
                            : nullptr;
    if (!hook) return Fail(L"no screenshot hook");
    screenshot_hook_ = SetWindowsHookExW(WH_GETMESSAGE, hook, hook_module, thread);
    hooked_thread_ = thread;
    if (!screenshot_hook_) return Fail(L"could not hook the installer's UI thread");
  }
  base::ScopedHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                sizeof(testing::ScreenshotRequest),
                                                testing::kScreenshotMapping));
  // Manual reset: the wait below wakes on it and must still see it set.
  base::ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, testing::kScreenshotDone));
  if (!mapping.IsValid() || !done.IsValid()) return Fail(L"could not ask for a screenshot");
  ResetEvent(done.Get());
  auto* request = static_cast<testing::ScreenshotRequest*>(
      MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, sizeof(testing::ScreenshotRequest)));
  if (!request) return Fail(L"could not ask for a screenshot");
  wcsncpy(request->name, name.c_str(), MAX_PATH - 1);
  request->saved = FALSE;
  PostMessageW(window, RegisterWindowMessageW(testing::kScreenshotMessage), 0, 0);
  const bool answered = WaitFor(
      [&done]() { return WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0; },
      L"screenshot " + name, done.Get());
  const bool saved = request->saved != FALSE;
  UnmapViewOfFile(request);
  if (!answered) return false;
  return saved || Fail(L"screenshot " + name + L" not saved, or of one colour");
}

bool Driver::MakeOwnWindowForeground() {
  own_window_ = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"wizard driver", WS_POPUP | WS_VISIBLE,
                                0, 0, 40, 40, nullptr, nullptr, nullptr, nullptr);
  if (!own_window_) return Fail(L"could not make a window");
  SetForegroundWindow(own_window_);
  return WaitFor([this]() { return GetForegroundWindow() == own_window_; },
                 L"this program's window in front");
}

bool Driver::StartSecondInstance(const base::CommandLine& second, PROCESS_INFORMATION* started) {
  std::wstring line = second.GetCommandLineString();
  wprintf(L"second instance: %ls\n", line.c_str());
  fflush(stdout);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      started)) {
    return Fail(L"could not start " + line);
  }
  return true;
}

bool Driver::RunRefusedSecondInstance(const base::CommandLine& second) {
  PROCESS_INFORMATION started = {};
  if (!StartSecondInstance(second, &started)) return false;
  base::ScopedHandle process(started.hProcess);
  base::ScopedHandle thread(started.hThread);
  std::vector<HWND> shown;
  const bool ended = WaitFor(
      [&]() {
        for (HWND window : TopLevelWindows([&started](HWND window) {
               return IsWindowVisible(window) && ProcessOf(window) == started.dwProcessId;
             })) {
          shown.push_back(window);
        }
        return WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
      },
      L"the second instance's end", process.Get());
  if (!ended) {
    TerminateProcess(process.Get(), 1);
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.Get(), &code);
  wprintf(L"second instance: exit code %lu\n", code);
  if (code == 0) return Fail(L"the second instance reported success");
  if (!shown.empty()) return Fail(L"the second instance showed a window");
  // In front and restored: a minimised window in front still shows nothing.
  return WaitFor([this]() { return GetForegroundWindow() == Window() && !IsIconic(window_); },
                 L"the first installer's window in front, not minimised");
}

bool Driver::Pick(int id, wchar_t letter, const std::wstring& step) {
  HWND box = Control(id);
  if (!box) return Fail(step + L": no such control");
  const LRESULT before = SendMessageW(box, CB_GETCURSEL, 0, 0);
  // As from the keyboard: the box has the focus and hands the key to its open list.
  // (GetComboBoxInfo must not be asked across processes: under Wine the installer writes
  // the reply at this process's address of it, into its own memory.)
  PostMessageW(box, WM_CHAR, letter, 1);
  return WaitFor([box, before]() { return SendMessageW(box, CB_GETCURSEL, 0, 0) != before; },
                 step);
}

bool Driver::CheckReadingDirection(bool rtl) {
  HWND window = Window();
  if (!window) return Fail(L"no installer window");
  // The frame (title bar) follows the top-level window's own styles.
  const auto wrong = [rtl](HWND hwnd) {
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
    const bool layout = (style & WS_EX_LAYOUTRTL) != 0;
    const bool reading = (style & WS_EX_RTLREADING) != 0;
    return layout != rtl || reading != rtl;
  };
  if (wrong(window)) {
    POINT cursor = {};
    GetCursorPos(&cursor);
    HWND box = Control(W::LANGUAGE_BOX);
    wprintf(L"language entry %d, list %ls, pointer at %ld,%ld\n",
            box ? static_cast<int>(SendMessageW(box, CB_GETCURSEL, 0, 0)) : -1,
            box && SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) ? L"open" : L"closed", cursor.x,
            cursor.y);
    return Fail(L"the window's (title bar's) reading direction");
  }
  for (const auto& control : kControls) {
    HWND item = Control(control.id);
    // The terms are English: their text reads from the left, unmirrored.
    if (control.id == W::TERMS_TEXT) {
      if (item && wrong(item) == !rtl) return Fail(L"the terms' direction");
      continue;
    }
    // A path reads from the left in every language; its box is only mirrored.
    if (control.id == W::PATH_BOX) {
      if (item && ((GetWindowLongPtrW(item, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0) != rtl)
        return Fail(L"the layout of the path box");
      continue;
    }
    if (item && wrong(item))
      return Fail(std::wstring(L"the reading direction of ") + control.name);
  }
  return true;
}

bool Driver::StartSecondWindow(const base::CommandLine& second) {
  PROCESS_INFORMATION started = {};
  if (!StartSecondInstance(second, &started)) return false;
  base::ScopedHandle thread(started.hThread);
  // From here on the steps drive the second installer's window and wait for its end.
  window_ = nullptr;
  target_process_ = started.dwProcessId;
  process_.Set(started.hProcess);
  return WaitFor([this]() { return Window() && IsWindowVisible(window_); },
                 L"the second instance's own window");
}

HWND Driver::OpenListOf(HWND box) {
  if (!SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0)) return nullptr;
  const DWORD thread = GetWindowThreadProcessId(box, nullptr);
  std::vector<HWND> lists = TopLevelWindows([thread](HWND window) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    return _wcsicmp(name, L"ComboLBox") == 0 && IsWindowVisible(window) &&
           GetWindowThreadProcessId(window, nullptr) == thread;
  });
  return lists.empty() ? nullptr : lists.front();
}

bool Driver::ClickEntry(int id, int offset, const std::wstring& step) {
  HWND box = Control(id);
  if (!box) return Fail(step + L": no such control");
  HWND list = nullptr;
  if (!WaitFor([&]() { return (list = OpenListOf(box)) != nullptr; }, step + L": an open list"))
    return false;
  // Asked by value only: no pointer crosses to the installer.
  const LRESULT target = SendMessageW(box, CB_GETCURSEL, 0, 0) + offset;
  const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
  const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
  RECT client;
  GetClientRect(list, &client);
  const int y = static_cast<int>((target - top) * height + height / 2);
  if (target < 0 || y < 0 || y >= client.bottom) return Fail(step + L": the entry is not shown");
  const LPARAM at = MAKELPARAM(client.right / 2, y);
  PostMessageW(list, WM_MOUSEMOVE, 0, at);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  return WaitFor([box, target]() { return SendMessageW(box, CB_GETCURSEL, 0, 0) == target; }, step);
}

bool Driver::DoubleClickOver(int id, const std::wstring& step) {
  HWND box = Control(W::LANGUAGE_BOX);
  HWND under = Control(id);
  HWND list = nullptr;
  if (!box || !under) return Fail(step + L": no such control");
  if (!WaitFor([&]() { return (list = OpenListOf(box)) != nullptr; }, step + L": an open list"))
    return false;
  RECT shown, covered, both;
  GetWindowRect(list, &shown);
  GetWindowRect(under, &covered);
  if (!IntersectRect(&both, &shown, &covered)) return Fail(step + L": the list lies beside it");
  // The pointer is there for both clicks, as the system gives it to their messages.
  const POINT at = {(both.left + both.right) / 2, (both.top + both.bottom) / 2};
  SetCursorPos(at.x, at.y);
  POINT in_list = at;
  ScreenToClient(list, &in_list);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(in_list.x, in_list.y));
  PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(in_list.x, in_list.y));
  const bool closed = WaitFor([&]() { return !OpenListOf(box); }, step + L": the list closed");
  POINT in_control = at;
  ScreenToClient(under, &in_control);
  if (closed) {
    PostMessageW(under, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(in_control.x, in_control.y));
    PostMessageW(under, WM_LBUTTONUP, 0, MAKELPARAM(in_control.x, in_control.y));
  }
  SetCursorPos(0, 0);
  return closed;
}

bool Driver::ControlStep(const std::wstring& name, const std::wstring& value,
                         const std::wstring& step) {
  const size_t at = value.find(L':');
  const int id = ControlId(value.substr(0, at));
  if (!id) return Fail(L"unknown step " + step);
  if (name == L"list") {
    const bool open = value.substr(at + 1) == L"open";
    return WaitFor(
        [this, id, open]() {
          HWND box = Control(id);
          return box && (SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) != 0) == open;
        },
        step);
  }
  if (name == L"click-entry" && at != std::wstring::npos)
    return ClickEntry(id, _wtoi(value.c_str() + at + 1), step);
  if (name == L"double-click-over") return DoubleClickOver(id, step);
  if (name == L"checked" && at != std::wstring::npos) {
    const bool ticked = value.substr(at + 1) == L"yes";
    return WaitFor(
        [this, id, ticked]() {
          HWND control = Control(id);
          return control && (SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED) == ticked;
        },
        step);
  }
  if (name == L"enabled" || name == L"disabled") {
    const bool enabled = name == L"enabled";
    return WaitFor(
        [this, id, enabled]() {
          HWND control = Control(id);
          return control && (IsWindowEnabled(control) != FALSE) == enabled;
        },
        step);
  }
  return Fail(L"unknown step " + step);
}

bool Driver::Step(const std::wstring& step, const base::CommandLine& second) {
  wprintf(L"step %ls\n", step.c_str());
  fflush(stdout);
  const size_t colon = step.find(L':');
  const std::wstring name = step.substr(0, colon);
  const std::wstring value = colon == std::wstring::npos ? std::wstring() : step.substr(colon + 1);
  const int id = ControlId(value);
  if (name == L"shown" && id) return WaitShown(id, step);
  if (name == L"read") {
    const ULONGLONG until = GetTickCount64() + GetDoubleClickTime();
    return WaitFor([until]() { return GetTickCount64() >= until; }, step);
  }
  if (name == L"progress-above") {
    const int above = _wtoi(value.c_str());
    return WaitFor(
        [this, above]() {
          HWND window = Window();
          return window && testing::IsControlShown(window, W::PROGRESS_BAR) &&
                 testing::GetProgressPosition(window, W::PROGRESS_BAR) > above;
        },
        step);
  }
  if (name == L"text" && id) {
    if (!WaitShown(id, step)) return false;
    wprintf(L"%ls: \"%ls\"\n", value.c_str(),
            testing::GetControlText(GetParent(Control(id)), id).c_str());
    return true;
  }
  if (name == L"screenshot" && !value.empty()) {
    if (!Window()) return Fail(L"no installer window");
    return Screenshot(window_, value);
  }
  if (name == L"question" && !value.empty()) {
    HWND box = nullptr;
    return WaitQuestion(value, &box);
  }
  if (name == L"question-focus" && (value == L"yes" || value == L"no")) {
    // Keys are posted: the next one must wait until the last has moved the focus.
    const int button = value == L"yes" ? IDYES : IDNO;
    return WaitFor(
        [this, button]() {
          HWND box = QuestionBox();
          return box && Focus() == GetDlgItem(box, button);
        },
        step);
  }
  if (name == L"no-question") {
    return WaitFor([this]() { return Window() && !QuestionBox(); }, step);
  }
  if (name == L"key" && !value.empty()) return PressKey(value);
  if (name == L"focus" && id) {
    return WaitFor(
        [this, id]() {
          HWND focus = Focus();
          HWND control = Control(id);
          return focus && control && (focus == control || IsChild(control, focus));
        },
        step);
  }
  if (name == L"type" && !value.empty()) return Type(value);
  if (name == L"click" && id) {
    if (!WaitShown(id, step)) return false;
    if (!IsWindowEnabled(GetDlgItem(window_, id))) return Fail(step + L": the button is disabled");
    testing::ClickButton(window_, id);
    return true;
  }
  if (name == L"close") {
    if (!Window()) return Fail(L"no installer window");
    // Posted: the window asks its question in a modal box before it answers.
    return PostMessageW(window_, WM_CLOSE, 0, 0) || Fail(L"could not ask the window to close");
  }
  if (name == L"answer-yes" && !value.empty()) return AnswerYes(value);
  if (name == L"launcher-held" || name == L"release-launcher") {
    if (!launcher_ready_.IsValid()) return Fail(L"no VELUM_FAKE_PROGRAM_*_EVENT set");
    if (name == L"release-launcher") return SetEvent(launcher_release_.Get()) != FALSE;
    return WaitFor(
        [this]() { return WaitForSingleObject(launcher_ready_.Get(), 0) == WAIT_OBJECT_0; },
        step, launcher_ready_.Get());
  }
  if (name == L"foreground-elsewhere") return MakeOwnWindowForeground();
  if (name == L"second-refused") {
    if (second.GetProgram().empty()) return Fail(L"no program after --");
    return RunRefusedSecondInstance(second);
  }
  if (name == L"windows" && !value.empty()) {
    const size_t expected = static_cast<size_t>(_wtoi(value.c_str()));
    const size_t count =
        TopLevelWindows([](HWND window) { return TitleOf(window) == kTitle; }).size();
    wprintf(L"%zu window(s) titled \"%ls\"\n", count, kTitle);
    return count == expected || Fail(step);
  }
  if (name == L"drop" && id) {
    HWND box = Control(id);
    if (!box) return Fail(step + L": no such control");
    // A click, as by the mouse: the box takes the keyboard focus and opens its list,
    // which then holds the mouse and follows it until the button comes up. The button
    // comes up where it went down, over the box: for the list that holds the mouse.
    RECT client;
    GetClientRect(box, &client);
    POINT at = {client.right / 2, client.bottom / 2};
    PostMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    HWND list = nullptr;
    if (!WaitFor([&]() { return (list = OpenListOf(box)) != nullptr; }, step + L": its list"))
      return false;
    MapWindowPoints(box, list, &at, 1);
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    return WaitFor(
        [this, box]() { return SendMessageW(box, CB_GETDROPPEDSTATE, 0, 0) != 0 && Focus() == box; },
        step);
  }
  if (name == L"pick") {
    const size_t at = value.find(L':');
    const int box = ControlId(value.substr(0, at));
    if (!box || at == std::wstring::npos) return Fail(L"unknown step " + step);
    return Pick(box, static_cast<wchar_t>(wcstoul(value.c_str() + at + 1, nullptr, 16)), step);
  }
  if (name == L"hidden" && id) {
    HWND control = Control(id);
    if (!control) return Fail(step + L": no such control");
    return !testing::IsControlShown(GetParent(control), id) || Fail(step);
  }
  if (name == L"minimize") {
    if (!Window()) return Fail(L"no installer window");
    PostMessageW(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return WaitFor([this]() { return IsIconic(window_) != FALSE; }, step);
  }
  if (name == L"rtl" && (value == L"yes" || value == L"no"))
    return CheckReadingDirection(value == L"yes");
  if (name == L"page-text") {
    const size_t at = value.find(L':');
    const int control = ControlId(value.substr(0, at));
    if (!control || at == std::wstring::npos) return Fail(L"unknown step " + step);
    const std::wstring wanted = value.substr(at + 1);
    if (!WaitShown(control, step)) return false;
    const std::wstring text = testing::GetControlText(GetParent(Control(control)), control);
    return text.find(wanted) != std::wstring::npos || Fail(step + L": reads \"" + text + L"\"");
  }
  if (name == L"backend-ended") {
    if (!Window()) return Fail(L"no installer window");
    const DWORD installer = ProcessOf(window_);
    return WaitFor([installer]() { return !BackendRuns(installer); }, step);
  }
  if (name == L"yes-if-asked") {
    if (HWND box = QuestionBox()) testing::ClickButton(box, IDYES);
    return true;
  }
  if (name == L"list" || name == L"click-entry" || name == L"enabled" || name == L"disabled" ||
      name == L"checked" || name == L"double-click-over") {
    return ControlStep(name, value, step);
  }
  if (name == L"second-window") {
    if (second.GetProgram().empty()) return Fail(L"no program after --");
    return StartSecondWindow(second);
  }
  if (name == L"dpi") {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    wprintf(L"%d pixels per inch\n", dpi);
    return dpi == _wtoi(value.c_str()) || Fail(step);
  }
  if (name == L"ended") {
    if (!Window() && !process_.IsValid()) return Fail(L"no installer window was seen");
    if (!WaitFor([this]() { return InstallerEnded(); }, step, process_.Get())) return false;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    wprintf(L"installer: exit code %lu\n", code);
    return true;
  }
  return Fail(L"unknown step " + step);
}

}  // namespace
}  // namespace installer

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> steps;
  base::CommandLine::StringVector second;
  int i = 1;
  for (; i < argc && wcscmp(argv[i], L"--") != 0; ++i) steps.push_back(argv[i]);
  for (++i; i < argc; ++i) second.push_back(argv[i]);
  if (steps.empty()) return 2;
  base::CommandLine second_instance(base::CommandLine::NO_PROGRAM);
  if (!second.empty()) second_instance = base::CommandLine(second);
  installer::Driver driver;
  return driver.Run(steps, second_instance) ? 0 : 1;
}
