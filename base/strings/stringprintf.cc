#include "base/strings/stringprintf.h"

#include <stdio.h>

#include <cstring>
#include <vector>

namespace base {

namespace {

// The first attempt formats on the stack; longer texts go to the heap up to this cap.
constexpr size_t kStackBufferSize = 1024;
constexpr size_t kMaxFormattedSize = 32 * 1024 * 1024;

// msvcrt's own bounded print returns -1 on truncation (mingw's C99 vsnprintf would
// return the needed length instead); its counting form then tells the full length.
int PrintBounded(char* buffer, size_t size, const char* format, va_list ap) {
  return _vsnprintf(buffer, size, format, ap);
}
int PrintBounded(wchar_t* buffer, size_t size, const wchar_t* format, va_list ap) {
  return _vsnwprintf(buffer, size, format, ap);
}
int PrintCount(const char* format, va_list ap) { return _vscprintf(format, ap); }
int PrintCount(const wchar_t* format, va_list ap) { return _vscwprintf(format, ap); }

// Each attempt works on its own copy of the arguments, so every one starts at the first.
template <typename CharT>
int BoundedPrint(CharT* buffer, size_t size, const CharT* format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  int result = PrintBounded(buffer, size, format, copy);
  va_end(copy);
  if (result < 0) {
    va_copy(copy, ap);
    result = PrintCount(format, copy);
    va_end(copy);
  }
  return result;
}

template <typename StringT>
void StringAppendVT(StringT* dst, const typename StringT::value_type* format, va_list ap) {
  typedef typename StringT::value_type CharT;
  CharT stack_buffer[kStackBufferSize];
  // At most 1023 characters here: a text of 1024 or more takes the heap path. msvcrt
  // leaves an exactly fitting text unterminated, so only the returned count is used.
  int result = BoundedPrint(stack_buffer, kStackBufferSize - 1, format, ap);
  if (result < 0) return;
  if (static_cast<size_t>(result) < kStackBufferSize) {
    dst->append(stack_buffer, result);
    return;
  }
  for (;;) {
    size_t size = static_cast<size_t>(result) + 1;
    if (size > kMaxFormattedSize) return;
    std::vector<CharT> heap_buffer(size);
    result = BoundedPrint(heap_buffer.data(), size, format, ap);
    if (result < 0) return;
    if (static_cast<size_t>(result) < size) {
      dst->append(heap_buffer.data(), result);
      return;
    }
  }
}

}  // namespace

void StringAppendV(std::string* dst, const char* format, va_list ap) {
  StringAppendVT(dst, format, ap);
}

void StringAppendV(std::wstring* dst, const wchar_t* format, va_list ap) {
  StringAppendVT(dst, format, ap);
}

std::string StringPrintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

std::wstring StringPrintf(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::wstring result;
  StringAppendV(&result, format, ap);
  va_end(ap);
  return result;
}

const std::string& SStringPrintf(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  dst->clear();
  StringAppendV(dst, format, ap);
  va_end(ap);
  return *dst;
}

const std::wstring& SStringPrintf(std::wstring* dst, const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  dst->clear();
  StringAppendV(dst, format, ap);
  va_end(ap);
  return *dst;
}

void StringAppendF(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

void StringAppendF(std::wstring* dst, const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

}  // namespace base
