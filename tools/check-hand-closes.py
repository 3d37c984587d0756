#!/usr/bin/env python3
"""Fails when a product file gives a handle, block or registration back by hand instead of
through its owner (base/win/scoped_generic.h, ScopedHandle).

  tools/check-hand-closes.py <repository root>
  tools/check-hand-closes.py --self-test

Calls are found in the code with comments and literals removed; a method of the same name
(`lock.Release()`, `verifier->CloseHandle(h)`) and a declaration are not calls of the API.
C++ `delete` is not checked: objects of our own are owned by unique_ptr and references.
"""
import os
import re
import sys

from planted_trees import run_planted_cases
from product_sources import product_sources


CLOSE_FUNCTIONS = """
  CloseHandle InternetCloseHandle WinHttpCloseHandle
  DeleteObject DeleteDC ReleaseDC DestroyIcon DestroyCursor DestroyMenu
  DestroyAcceleratorTable DestroyWindow UnregisterClassW UnregisterClassA ImageList_Destroy
  DeleteEnhMetaFile UnhookWindowsHookEx
  GlobalFree LocalFree HeapFree HeapDestroy VirtualFree VirtualFreeEx UnmapViewOfFile
  CoTaskMemFree SysFreeString VariantClear PropVariantClear ILFree FreeSid
  FreeEnvironmentStringsW FreeEnvironmentStringsA DestroyEnvironmentBlock
  NetApiBufferFree LsaClose LsaFreeMemory WTSFreeMemory CryptMemFree
  FreeLibrary RegCloseKey FindClose FindCloseChangeNotification CloseServiceHandle
  CertCloseStore CertFreeCertificateContext CertFreeCertificateChain CertFreeCRLContext
  CryptMsgClose CryptReleaseContext CryptDestroyHash CryptDestroyKey
  CoUninitialize OleUninitialize UnregisterWait UnregisterWaitEx
  DeleteTimerQueueTimer DeleteTimerQueueEx DeleteTimerQueue DeleteCriticalSection
  DeleteProcThreadAttributeList CloseThreadpool CloseThreadpoolWait CloseThreadpoolTimer
  CloseThreadpoolWork CloseThreadpoolIo CloseThreadpoolCleanupGroup
  DeregisterEventSource CloseEventLog CloseDesktop CloseWindowStation
  free _aligned_free
""".split()

# (path or folder/, function or "*", calls allowed or None for any, why).
ALLOWED = [
    ("base/win/scoped_generic.h", "*", None, "the owners' traits: the one place that frees"),
    ("base/win/scoped_generic.cc", "*", None, "traits whose Free is defined out of line"),
    ("base/win/scoped_generic_wininet.cc", "*", None,
     "the WinINet traits' Free (wininet.h and winhttp.h do not mix)"),
    ("base/win/scoped_handle.cc", "CloseHandle", 1, "ScopedHandle's checked close"),
    ("base/win/handle_verifier.cc", "CloseHandle", 1,
     "the verifier is where every ScopedHandle close ends"),
    ("base/win/handle_verifier.cc", "HeapFree", 1,
     "a diagnosis block of a failed close: the allocator may be what failed"),
    ("base/allocator/", "HeapFree", None, "the allocator that implements free"),
    ("base/allocator/", "HeapDestroy", None, "the allocator's own heap"),
    ("crash/reporter/reporter_self_crash.cc", "CloseHandle", 2,
     "crash time: the owners close through the handle verifier, whose lock the crashed "
     "thread may hold"),
]

CALL = re.compile(r"\b(%s)\s*\(" % "|".join(re.escape(name) for name in CLOSE_FUNCTIONS))
# A declaration or definition of a function of the same name, not a call.
DECLARATION = re.compile(r"\b(void|bool|BOOL|int|auto|DWORD|LONG|HRESULT|VOID)\s*$")
CODE_TOKENS = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                         re.S)


def without_comments_and_literals(text):
    """The code of |text| with comments and literals blanked, line breaks kept."""
    def blank(match):
        token = match.group(0)
        if token.startswith(("//", "/*")):
            return re.sub(r"[^\n]", " ", token)
        return token[0] + re.sub(r"[^\n]", " ", token[1:-1]) + token[-1]
    return CODE_TOKENS.sub(blank, text)


def hand_closes(text):
    """(line, function) of every call of a close function in the C++ source |text|."""
    code = without_comments_and_literals(text)
    found = []
    for match in CALL.finditer(code):
        before = code[:match.start()]
        stripped = before.rstrip()
        # A method (x.Close(), x->Close(), Class::Close) is not the API; ::Close is.
        if stripped.endswith((".", "->")) or re.search(r"\w::$", stripped):
            continue
        if DECLARATION.search(before.split("\n")[-1]):
            continue
        found.append((before.count("\n") + 1, match.group(1)))
    return found


def allowance(path, function):
    for where, name, count, _ in ALLOWED:
        in_place = path.startswith(where) if where.endswith("/") else path == where
        if in_place and name in ("*", function):
            return count if count is not None else float("inf")
    return 0


def check(root):
    faults = []
    checked = 0
    for path in product_sources(root):
        checked += 1
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            calls = hand_closes(f.read())
        counts = {}
        for line, function in calls:
            counts[function] = counts.get(function, 0) + 1
            if counts[function] > allowance(path, function):
                faults.append("%s:%d: %s by hand; give the value to its owner "
                              "(base/win/scoped_generic.h)" % (path, line, function))
    return checked, faults


PLANTED = [
    # (file, content, a fault expected)
    ("base/plain_call.cc", "void F(HANDLE h) { CloseHandle(h); }\n", True),
    ("base/global_scope.cc", "void F(HANDLE h) { ::CloseHandle(h); }\n", True),
    ("base/c_free.cc", "void F(void* p) { free (p); }\n", True),
    ("desktop/ui/window.cc", "void F(HWND w) {\n  if (w)\n    DestroyWindow(w);\n}\n", True),
    ("base/in_comment.cc", "// CloseHandle(h) by hand\n/* LocalFree(p); */\n", False),
    ("base/in_string.cc", 'const char* k = "CloseHandle(h)";\n', False),
    ("base/method.cc", "void F() { lock.DeleteObject(x); v->CloseHandle(h); A::FindClose(h); }\n",
     False),
    ("base/declaration.h", "class V {\n  virtual bool CloseHandle(HANDLE handle) = 0;\n};\n", False),
    ("base/thing_unittest.cc", "void F(HANDLE h) { CloseHandle(h); }\n", False),
    ("base/win/scoped_generic.h", "void F(HKEY k) { RegCloseKey(k); }\n", False),
    ("crash/reporter/reporter_self_crash.cc", "CloseHandle(a);\nCloseHandle(b);\n", False),
    ("crash/reporter/reporter_self_crash.cc", "CloseHandle(a);\nCloseHandle(b);\nCloseHandle(c);\n",
     True),
    ("crash/reporter/reporter_self_crash.cc", "CloseHandle(a);\nLocalFree(p);\n", True),
]


def self_test():
    return run_planted_cases([(path, {path: content}, expect_fault)
                              for path, content, expect_fault in PLANTED],
                             lambda root: check(root)[1])


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    checked, faults = check(root)
    for fault in faults:
        print(fault)
    print("%d product files checked, %d hand closes outside the owners" % (checked, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
