// main() of every test executable. MinGW's GoogleTest cannot catch structured
// exceptions, and under Wine an unhandled crash may end with exit code 0: a crashing
// test must fail loudly instead, with a fixed code (Wine keeps only 8 bits of it).
#include <windows.h>

#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  std::fflush(stdout);
  std::fprintf(stderr, "\nFATAL: unhandled exception 0x%08lx at %p\n",
               info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(OnUnhandledException);
  testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
