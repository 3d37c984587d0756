// In-process fakes of system COM objects: a reference-counted base that answers
// IUnknown (and IDispatch with nothing behind it), and a bag that keeps the properties
// code under test sets, in the order it set them, for the tests to read back.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_COM_OBJECT_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_COM_OBJECT_TEST_UTIL_H_

#include <windows.h>

#include <oaidl.h>
#include <oleauto.h>

#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include <wrl/client.h>

namespace installer {
namespace testing {

class FakePropertyBag {
 public:
  // An unset text reads as a null BSTR, an unset number as 0.
  [[nodiscard]] HRESULT GetText(const char* name, BSTR* value) const;
  [[nodiscard]] HRESULT PutText(const char* name, BSTR value);
  [[nodiscard]] HRESULT GetNumber(const char* name, long long* value) const;
  [[nodiscard]] HRESULT PutNumber(const char* name, long long value);

  template <typename T>
  [[nodiscard]] HRESULT GetAs(const char* name, T* value) const {
    long long number = 0;
    const HRESULT result = GetNumber(name, &number);
    *value = static_cast<T>(number);
    return result;
  }

  bool Has(const std::string& name) const;
  std::wstring Text(const std::string& name) const;
  long long Number(const std::string& name) const;
  // The names in the order of their first setting.
  const std::vector<std::string>& order() const { return order_; }

 private:
  void Note(const char* name);

  std::map<std::string, std::wstring> texts_;
  std::map<std::string, long long> numbers_;
  std::vector<std::string> order_;
};

// The IUnknown of a fake implementing `Interface`. Further interfaces it answers come
// from QueryOther.
template <typename Interface>
class FakeUnknown : public Interface {
 public:
  FakeUnknown() : references_(1) {}
  virtual ~FakeUnknown() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface)) ||
        (std::is_base_of<IDispatch, Interface>::value && IsEqualIID(iid, IID_IDispatch))) {
      *object = static_cast<Interface*>(this);
    } else {
      *object = QueryOther(iid);
    }
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  FakePropertyBag& properties() { return properties_; }

 protected:
  virtual void* QueryOther(REFIID) { return nullptr; }

 private:
  ULONG references_;
  FakePropertyBag properties_;
};

// A fake of an IDispatch-based interface; late binding is not offered.
template <typename Interface>
class FakeDispatch : public FakeUnknown<Interface> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                   EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// An enumerator over a copy of `items`.
class FakeEnumVariant : public FakeUnknown<IEnumVARIANT> {
 public:
  explicit FakeEnumVariant(const std::vector<VARIANT>& items);
  ~FakeEnumVariant() override;

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override;

 private:
  std::vector<VARIANT> items_;
  size_t next_;
};

// A new fake, owned by the pointer.
template <typename Fake>
Microsoft::WRL::ComPtr<Fake> MakeFake() {
  Microsoft::WRL::ComPtr<Fake> fake;
  fake.Attach(new Fake());
  return fake;
}

}  // namespace testing
}  // namespace installer

// Property accessors of a fake, kept in its bag under the property's name.
#define FAKE_TEXT_PROPERTY(Name)                                                    \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* value) override {                      \
    return this->properties().GetText(#Name, value);                                \
  }                                                                                 \
  HRESULT STDMETHODCALLTYPE put_##Name(BSTR value) override {                       \
    return this->properties().PutText(#Name, value);                                \
  }
#define FAKE_NUMBER_PROPERTY(Name, Type)                                            \
  HRESULT STDMETHODCALLTYPE get_##Name(Type* value) override {                      \
    return this->properties().GetAs(#Name, value);                                  \
  }                                                                                 \
  HRESULT STDMETHODCALLTYPE put_##Name(Type value) override {                       \
    return this->properties().PutNumber(#Name, static_cast<long long>(value));      \
  }
// A method of a fake that only answers `result`.
#define FAKE_METHOD_RETURNS(result, Name, ...)                                      \
  HRESULT STDMETHODCALLTYPE Name(__VA_ARGS__) override { return result; }
#define FAKE_NOT_IMPLEMENTED(Name, ...) FAKE_METHOD_RETURNS(E_NOTIMPL, Name, __VA_ARGS__)
#define FAKE_READ_ONLY_NUMBER(Name, Type)                                           \
  HRESULT STDMETHODCALLTYPE get_##Name(Type* value) override {                      \
    return this->properties().GetAs(#Name, value);                                  \
  }

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FAKE_COM_OBJECT_TEST_UTIL_H_
