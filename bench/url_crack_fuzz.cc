// Hand-run fuzz loop of the URL cracker: random texts, the same for a given seed, handed
// either to InternetCrackUrlW itself ("bare", as the downloader called it before) or to
// ParseUrl, which lets only http(s) texts within its bound through. Each run of texts is a
// child process; a crash ends it through the unhandled-exception filter, which reports the
// text's index, and the parent goes on after it. Prints the texts run and the crashes.
//   url_crack_fuzz.exe bare|parsed [count=5000] [seed=1]
#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/wininet/url_parts.h"

namespace {

LONG g_index = -1;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS*) {
  ExitProcess(static_cast<UINT>(0x10000 + g_index));  // above any count the parent runs
}

// A scheme (http, https in any case, or a few letters), then characters URLs and crashes
// are made of, up to 400 of them.
std::wstring RandomText(std::mt19937* random, bool http) {
  static const wchar_t kSchemes[][9] = {L"http://", L"HTTPS://", L"hTtP://", L"https://"};
  static const wchar_t kCharacters[] = L"aZ09:@./\\?#%[]-_~&= ";
  std::wstring text;
  if (http) {
    text = kSchemes[(*random)() % 4];
  } else {
    for (unsigned i = 0, n = 1 + (*random)() % 6; i < n; ++i) text += L'a' + (*random)() % 26;
    text += L':';
  }
  for (unsigned i = 0, n = (*random)() % 401; i < n; ++i)
    text += kCharacters[(*random)() % (sizeof(kCharacters) / sizeof(wchar_t) - 1)];
  return text;
}

bool Crack(const std::wstring& text, bool bare) {
  if (!bare) {
    installer::ParsedUrl parsed;
    return installer::ParseUrl(text, &parsed);
  }
  wchar_t host[255], path[4095];
  URL_COMPONENTSW components = {};
  components.dwStructSize = sizeof(components);
  components.lpszHostName = host;
  components.dwHostNameLength = 255;
  components.lpszUrlPath = path;
  components.dwUrlPathLength = 4095;
  return InternetCrackUrlW(text.c_str(), 0, ICU_DECODE | ICU_ESCAPE, &components) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool bare = argc > 1 && std::wstring(argv[1]) == L"bare";
  const long count = argc > 2 ? wcstol(argv[2], nullptr, 10) : 5000;
  const unsigned seed = argc > 3 ? wcstoul(argv[3], nullptr, 10) : 1;
  if (argc > 4) {  // child: texts from argv[4] on
    SetUnhandledExceptionFilter(&ReportCrash);
    std::mt19937 random(seed);
    for (long i = 0; i < count; ++i) {
      const std::wstring text = RandomText(&random, i % 2 == 1);
      g_index = i;
      if (i >= wcstol(argv[4], nullptr, 10)) Crack(text, bare);
    }
    return 0;
  }
  long crashes[2] = {0, 0};  // non-http, http(s)
  for (long from = 0; from < count;) {
    std::wstring command = L"\"" + std::wstring(argv[0]) + L"\" " + (bare ? L"bare " : L"parsed ") +
                           std::to_wstring(count) + L" " + std::to_wstring(seed) + L" " +
                           std::to_wstring(from);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
      std::printf("cannot start the child: %lu\n", GetLastError());
      return 1;
    }
    const base::ScopedHandle process(started.hProcess), thread(started.hThread);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    if (code < 0x10000) break;
    const long crashed = static_cast<long>(code - 0x10000);
    ++crashes[crashed % 2];
    from = crashed + 1;
  }
  std::printf("%s: %ld texts (half non-http, half http or https), %ld crashes on non-http texts, "
              "%ld on http(s) ones\n",
              bare ? "InternetCrackUrlW" : "ParseUrl", count, crashes[0], crashes[1]);
  return 0;
}
