// ScopedGeneric: the one owner template for handles, keys and blocks the system hands out
// and that are given back by one call. The traits say how:
//
//   struct FindHandleTraits {
//     static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
//     static void Free(HANDLE handle) { FindClose(handle); }
//   };
//   typedef ScopedGeneric<HANDLE, FindHandleTraits> ScopedFindHandle;
//
// A traits class may add `static bool IsValid(const T&)` when the value is a structure
// (PROPVARIANT) rather than something comparable with InvalidValue(). Like ScopedHandle the
// owner is move-only and never changes the thread's last error, so a caller can read the
// error of the call that produced the value after handing it over:
//
//   ScopedHKEY key;
//   LONG result = RegOpenKeyExW(root, name, 0, KEY_READ, key.Receive());
//
// Kernel handles stay with ScopedHandle, which also tracks them in the handle verifier.
#ifndef BASE_WIN_SCOPED_GENERIC_H_
#define BASE_WIN_SCOPED_GENERIC_H_

#include <windows.h>
#include <objbase.h>
#include <wincrypt.h>
#include <oleauto.h>
#include <propidl.h>

#include <type_traits>
#include <utility>

namespace base {

namespace internal {

template <typename Traits, typename T, typename = void>
struct TraitsHaveIsValid : std::false_type {};
template <typename Traits, typename T>
struct TraitsHaveIsValid<Traits, T,
                         std::void_t<decltype(Traits::IsValid(std::declval<const T&>()))>>
    : std::true_type {};

}  // namespace internal

template <typename T, typename Traits>
class ScopedGeneric {
 public:
  ScopedGeneric() : value_(Traits::InvalidValue()) {}
  // Takes ownership of |value|.
  explicit ScopedGeneric(T value) : value_(value) {}
  ScopedGeneric(ScopedGeneric&& other) noexcept : value_(other.Take()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) Reset(other.Take());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ~ScopedGeneric() { Reset(); }

  bool IsValid() const { return IsValidValue(value_); }
  const T& Get() const { return value_; }

  // Frees what is held and holds |value| instead; the value already held does nothing.
  void Reset(T value = Traits::InvalidValue()) {
    if (SameValue(value, value_)) return;
    T old = value_;
    value_ = value;
    if (IsValidValue(old)) {
      const DWORD last_error = GetLastError();
      Traits::Free(old);
      SetLastError(last_error);
    }
  }

  // Hands the value out unowned; the holder becomes empty.
  T Take() {
    T value = value_;
    value_ = Traits::InvalidValue();
    return value;
  }

  // The address of the held value for an out-parameter; frees what was held first.
  T* Receive() {
    Reset();
    return &value_;
  }

 private:
  static bool IsValidValue(const T& value) {
    if constexpr (internal::TraitsHaveIsValid<Traits, T>::value)
      return Traits::IsValid(value);
    else
      return value != Traits::InvalidValue();
  }
  static bool SameValue(const T& a, const T& b) {
    if constexpr (internal::TraitsHaveIsValid<Traits, T>::value)
      return !Traits::IsValid(a) && !Traits::IsValid(b);  // structures are never shared
    else
      return a == b;
  }

  T value_;
};

// LocalAlloc'ed memory, freed with LocalFree (what the security and shell calls return).
template <typename T>
struct LocalAllocTraits {
  static T* InvalidValue() { return nullptr; }
  static void Free(T* memory) { LocalFree(const_cast<void*>(static_cast<const void*>(memory))); }
};
template <typename T = void>
using ScopedLocalAlloc = ScopedGeneric<T*, LocalAllocTraits<T>>;

// COM task memory, freed with CoTaskMemFree.
template <typename T>
struct CoTaskMemTraits {
  static T* InvalidValue() { return nullptr; }
  static void Free(T* memory) { CoTaskMemFree(const_cast<void*>(static_cast<const void*>(memory))); }
};
template <typename T = void>
using ScopedCoTaskMem = ScopedGeneric<T*, CoTaskMemTraits<T>>;

// A registry key handle, closed with RegCloseKey.
struct HKEYTraits {
  static HKEY InvalidValue() { return nullptr; }
  static void Free(HKEY key) { RegCloseKey(key); }
};
typedef ScopedGeneric<HKEY, HKEYTraits> ScopedHKEY;

// A FindFirstFile handle, closed with FindClose.
struct FindHandleTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE handle) { FindClose(handle); }
};
typedef ScopedGeneric<HANDLE, FindHandleTraits> ScopedFindHandle;

// A FindFirstChangeNotification handle, closed with FindCloseChangeNotification.
struct FindChangeHandleTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE handle) { FindCloseChangeNotification(handle); }
};
typedef ScopedGeneric<HANDLE, FindChangeHandleTraits> ScopedFindChangeHandle;

// A SID from AllocateAndInitializeSid, freed with FreeSid.
struct SidTraits {
  static PSID InvalidValue() { return nullptr; }
  static void Free(PSID sid) { FreeSid(sid); }
};
typedef ScopedGeneric<PSID, SidTraits> ScopedSid;

// A kernel handle closed with CloseHandle without the handle verifier, for the one
// handle closing must not reach it through: the log file, closed under the logging lock.
struct UnverifiedHandleTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE handle) { CloseHandle(handle); }
};
typedef ScopedGeneric<HANDLE, UnverifiedHandleTraits> ScopedUnverifiedHandle;

// A loaded module, freed with FreeLibrary.
struct ModuleTraits {
  static HMODULE InvalidValue() { return nullptr; }
  static void Free(HMODULE module) { FreeLibrary(module); }
};
typedef ScopedGeneric<HMODULE, ModuleTraits> ScopedModule;

// A GDI object (bitmap, brush, font, pen, region), deleted with DeleteObject. It must not
// be selected into a DC then: hold the DC's ScopedSelectObject inside the object's scope.
template <typename T>
struct GdiObjectTraits {
  static T InvalidValue() { return nullptr; }
  static void Free(T object) { DeleteObject(object); }
};
template <typename T>
using ScopedGdiObject = ScopedGeneric<T, GdiObjectTraits<T>>;
typedef ScopedGdiObject<HBITMAP> ScopedBitmap;
typedef ScopedGdiObject<HBRUSH> ScopedBrush;
typedef ScopedGdiObject<HFONT> ScopedFont;

// A DC made with CreateCompatibleDC or CreateDC, deleted with DeleteDC.
struct CreatedDCTraits {
  static HDC InvalidValue() { return nullptr; }
  static void Free(HDC dc) { DeleteDC(dc); }
};
typedef ScopedGeneric<HDC, CreatedDCTraits> ScopedCreateDC;

// A window's DC from GetDC, given back with ReleaseDC.
struct WindowDC {
  HWND window;
  HDC dc;
};
struct WindowDCTraits {
  static WindowDC InvalidValue() { return {nullptr, nullptr}; }
  static bool IsValid(const WindowDC& value) { return value.dc != nullptr; }
  static void Free(WindowDC value) { ReleaseDC(value.window, value.dc); }
};
class ScopedGetDC : public ScopedGeneric<WindowDC, WindowDCTraits> {
 public:
  // |window| null: the screen.
  explicit ScopedGetDC(HWND window)
      : ScopedGeneric<WindowDC, WindowDCTraits>(WindowDC{window, GetDC(window)}) {}
  HDC dc() const { return Get().dc; }
};

// An object selected into a DC: the object it replaced is selected back, so that the DC
// gives up the object before either is deleted.
struct SelectedObject {
  HDC dc;
  HGDIOBJ previous;
};
struct SelectedObjectTraits {
  static SelectedObject InvalidValue() { return {nullptr, nullptr}; }
  static bool IsValid(const SelectedObject& value) {
    return value.previous != nullptr && value.previous != HGDI_ERROR;
  }
  static void Free(SelectedObject value) { SelectObject(value.dc, value.previous); }
};
class ScopedSelectObject : public ScopedGeneric<SelectedObject, SelectedObjectTraits> {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object)
      : ScopedGeneric<SelectedObject, SelectedObjectTraits>(
            SelectedObject{dc, dc && object ? SelectObject(dc, object) : nullptr}) {}
};

// An icon from LoadImage or CreateIcon (not a shared one), destroyed with DestroyIcon.
struct IconTraits {
  static HICON InvalidValue() { return nullptr; }
  static void Free(HICON icon) { DestroyIcon(icon); }
};
typedef ScopedGeneric<HICON, IconTraits> ScopedIcon;

// A hook from SetWindowsHookEx, removed with UnhookWindowsHookEx.
struct HookTraits {
  static HHOOK InvalidValue() { return nullptr; }
  static void Free(HHOOK hook) { UnhookWindowsHookEx(hook); }
};
typedef ScopedGeneric<HHOOK, HookTraits> ScopedHook;

// A movable or fixed block from GlobalAlloc, freed with GlobalFree.
struct GlobalAllocTraits {
  static HGLOBAL InvalidValue() { return nullptr; }
  static void Free(HGLOBAL memory) { GlobalFree(memory); }
};
typedef ScopedGeneric<HGLOBAL, GlobalAllocTraits> ScopedGlobalAlloc;

// A PROPVARIANT, cleared with PropVariantClear.
struct PropVariantTraits {
  static PROPVARIANT InvalidValue() {
    PROPVARIANT value;
    PropVariantInit(&value);
    return value;
  }
  static bool IsValid(const PROPVARIANT& value) { return value.vt != VT_EMPTY; }
  static void Free(PROPVARIANT value) { PropVariantClear(&value); }
};
typedef ScopedGeneric<PROPVARIANT, PropVariantTraits> ScopedPropVariant;

// A BSTR, freed with SysFreeString.
struct BstrTraits {
  static BSTR InvalidValue() { return nullptr; }
  static void Free(BSTR bstr) { SysFreeString(bstr); }
};

// A VARIANT, cleared with VariantClear.
struct VariantTraits {
  static VARIANT InvalidValue() {
    VARIANT value;
    VariantInit(&value);
    return value;
  }
  static bool IsValid(const VARIANT& value) { return V_VT(&value) != VT_EMPTY; }
  static void Free(VARIANT value) { VariantClear(&value); }
};

// ---- Mapped views, CryptoAPI objects and WinHTTP handles.

// A view from MapViewOfFile, unmapped with UnmapViewOfFile.
struct MappedViewTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void* view) { UnmapViewOfFile(view); }
};
typedef ScopedGeneric<void*, MappedViewTraits> ScopedMappedView;

// A certificate store, closed with CertCloseStore.
struct CertStoreTraits {
  static HCERTSTORE InvalidValue() { return nullptr; }
  static void Free(HCERTSTORE store) { CertCloseStore(store, 0); }
};
typedef ScopedGeneric<HCERTSTORE, CertStoreTraits> ScopedCertStore;

// A cryptographic message, closed with CryptMsgClose.
struct CryptMsgTraits {
  static HCRYPTMSG InvalidValue() { return nullptr; }
  static void Free(HCRYPTMSG message) { CryptMsgClose(message); }
};
typedef ScopedGeneric<HCRYPTMSG, CryptMsgTraits> ScopedCryptMsg;

// A certificate context, freed with CertFreeCertificateContext.
struct CertContextTraits {
  static PCCERT_CONTEXT InvalidValue() { return nullptr; }
  static void Free(PCCERT_CONTEXT certificate) { CertFreeCertificateContext(certificate); }
};
typedef ScopedGeneric<PCCERT_CONTEXT, CertContextTraits> ScopedCertContext;

// A certificate chain context, freed with CertFreeCertificateChain.
struct CertChainTraits {
  static PCCERT_CHAIN_CONTEXT InvalidValue() { return nullptr; }
  static void Free(PCCERT_CHAIN_CONTEXT chain) { CertFreeCertificateChain(chain); }
};
typedef ScopedGeneric<PCCERT_CHAIN_CONTEXT, CertChainTraits> ScopedCertChain;

// A WinHTTP session, connection or request handle (HINTERNET), closed with
// WinHttpCloseHandle; a failed close is logged. Free is defined out of line because
// winhttp.h and wininet.h cannot both be included in one file.
struct WinHttpHandleTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void* handle);
};
typedef ScopedGeneric<void*, WinHttpHandleTraits> ScopedWinHttpHandle;


// ---- Windows, COM apartments, heap blocks, critical sections, waits, timers and WinINet.

// A window, destroyed with DestroyWindow. A window the system destroyed by itself must
// leave the owner through Take().
struct WindowTraits {
  static HWND InvalidValue() { return nullptr; }
  static void Free(HWND window) { DestroyWindow(window); }
};
typedef ScopedGeneric<HWND, WindowTraits> ScopedWindow;

// A window class registered by atom, unregistered with UnregisterClassW.
struct RegisteredClass {
  ATOM atom;
  HINSTANCE instance;
};
struct RegisteredClassTraits {
  static RegisteredClass InvalidValue() { return {0, nullptr}; }
  static bool IsValid(const RegisteredClass& value) { return value.atom != 0; }
  static void Free(RegisteredClass value) { UnregisterClassW(MAKEINTATOM(value.atom), value.instance); }
};
typedef ScopedGeneric<RegisteredClass, RegisteredClassTraits> ScopedRegisteredClass;

// The calling thread's COM apartment, left with CoUninitialize when joining it succeeded
// (S_FALSE too: every successful CoInitializeEx is paired). Stays on the thread that
// made it.
//
//   ScopedComInitializer com(COINIT_APARTMENTTHREADED);
//   ... use COM; com.Reset() leaves the apartment early.
struct ComInitializerTraits {
  static HRESULT InvalidValue() { return E_FAIL; }
  static bool IsValid(const HRESULT& result) { return SUCCEEDED(result); }
  static void Free(HRESULT) { CoUninitialize(); }
};
class ScopedComInitializer : public ScopedGeneric<HRESULT, ComInitializerTraits> {
 public:
  // An owner that has joined no apartment.
  ScopedComInitializer() = default;
  explicit ScopedComInitializer(DWORD model)
      : ScopedGeneric<HRESULT, ComInitializerTraits>(CoInitializeEx(nullptr, model)) {}
};

// A block from HeapAlloc on the process heap, freed with HeapFree.
template <typename T>
struct ProcessHeapTraits {
  static T* InvalidValue() { return nullptr; }
  static void Free(T* block) { HeapFree(GetProcessHeap(), 0, block); }
};
template <typename T = void>
using ScopedProcessHeapBlock = ScopedGeneric<T*, ProcessHeapTraits<T>>;

// A critical section, deleted with DeleteCriticalSection. It cannot move, so the owner
// holds its address: declare the owner after the section it deletes.
struct CriticalSectionTraits {
  static CRITICAL_SECTION* InvalidValue() { return nullptr; }
  static void Free(CRITICAL_SECTION* section) { DeleteCriticalSection(section); }
};
typedef ScopedGeneric<CRITICAL_SECTION*, CriticalSectionTraits> ScopedCriticalSection;

// A wait from RegisterWaitForSingleObject. The owner unregisters it with UnregisterWaitEx
// and waits for a callback that is running, since such a callback usually reaches into
// the object that holds the wait.
struct RegisteredWaitTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE wait) { UnregisterWaitEx(wait, INVALID_HANDLE_VALUE); }
};
class ScopedRegisteredWait : public ScopedGeneric<HANDLE, RegisteredWaitTraits> {
 public:
  ScopedRegisteredWait() = default;
  explicit ScopedRegisteredWait(HANDLE wait) : ScopedGeneric<HANDLE, RegisteredWaitTraits>(wait) {}

  // Unregisters now and says whether UnregisterWaitEx succeeded (its error stays for
  // GetLastError). |completion| as UnregisterWaitEx: INVALID_HANDLE_VALUE waits for a
  // running callback, null does not. The owner is empty afterwards either way: a wait
  // handle is not given to UnregisterWaitEx twice.
  [[nodiscard]] bool Unregister(HANDLE completion = INVALID_HANDLE_VALUE) {
    if (!IsValid()) return true;
    return UnregisterWaitEx(Take(), completion) != FALSE;
  }
};

// A timer of the default timer queue, deleted with DeleteTimerQueueTimer, which waits
// for a callback that is running; a failed delete is logged.
struct TimerQueueTimerTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE timer);
};
typedef ScopedGeneric<HANDLE, TimerQueueTimerTraits> ScopedTimerQueueTimer;

// A CryptoAPI provider, released with CryptReleaseContext.
struct CryptProviderTraits {
  static HCRYPTPROV InvalidValue() { return 0; }
  static void Free(HCRYPTPROV provider) { CryptReleaseContext(provider, 0); }
};
typedef ScopedGeneric<HCRYPTPROV, CryptProviderTraits> ScopedCryptProvider;

// A CryptoAPI hash, destroyed with CryptDestroyHash.
struct CryptHashTraits {
  static HCRYPTHASH InvalidValue() { return 0; }
  static void Free(HCRYPTHASH hash) { CryptDestroyHash(hash); }
};
typedef ScopedGeneric<HCRYPTHASH, CryptHashTraits> ScopedCryptHash;

// An environment block from CreateEnvironmentBlock, freed with DestroyEnvironmentBlock
// (userenv).
struct EnvironmentBlockTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void* block);
};
typedef ScopedGeneric<void*, EnvironmentBlockTraits> ScopedEnvironmentBlock;

// The process's environment from GetEnvironmentStringsW, freed with
// FreeEnvironmentStringsW.
struct EnvironmentStringsTraits {
  static wchar_t* InvalidValue() { return nullptr; }
  static void Free(wchar_t* block) { FreeEnvironmentStringsW(block); }
};
typedef ScopedGeneric<wchar_t*, EnvironmentStringsTraits> ScopedEnvironmentStrings;

// A WinINet session, connection or request handle (HINTERNET), closed with
// InternetCloseHandle; a failed close is logged. WinINet aborts the asynchronous work
// pending on a handle when it is closed, so an early Reset() is how a transfer is cut
// off. Defined out of line for the same reason as the WinHTTP handle's.
struct WinInetHandleTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void* handle);
};
typedef ScopedGeneric<void*, WinInetHandleTraits> ScopedInternetHandle;

}  // namespace base

#endif  // BASE_WIN_SCOPED_GENERIC_H_
