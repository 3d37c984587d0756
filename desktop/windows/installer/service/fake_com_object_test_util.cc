#include "desktop/windows/installer/service/fake_com_object_test_util.h"

#include <algorithm>

namespace installer {
namespace testing {

HRESULT FakePropertyBag::GetText(const char* name, BSTR* value) const {
  if (!value) return E_POINTER;
  auto it = texts_.find(name);
  *value = it == texts_.end() ? nullptr : SysAllocString(it->second.c_str());
  return S_OK;
}

HRESULT FakePropertyBag::PutText(const char* name, BSTR value) {
  Note(name);
  texts_[name] = value ? value : L"";
  return S_OK;
}

HRESULT FakePropertyBag::GetNumber(const char* name, long long* value) const {
  if (!value) return E_POINTER;
  auto it = numbers_.find(name);
  *value = it == numbers_.end() ? 0 : it->second;
  return S_OK;
}

HRESULT FakePropertyBag::PutNumber(const char* name, long long value) {
  Note(name);
  numbers_[name] = value;
  return S_OK;
}

bool FakePropertyBag::Has(const std::string& name) const {
  return texts_.count(name) || numbers_.count(name);
}

std::wstring FakePropertyBag::Text(const std::string& name) const {
  auto it = texts_.find(name);
  return it == texts_.end() ? std::wstring() : it->second;
}

long long FakePropertyBag::Number(const std::string& name) const {
  auto it = numbers_.find(name);
  return it == numbers_.end() ? 0 : it->second;
}

void FakePropertyBag::Note(const char* name) {
  if (std::find(order_.begin(), order_.end(), name) == order_.end()) order_.push_back(name);
}

FakeEnumVariant::FakeEnumVariant(const std::vector<VARIANT>& items) : next_(0) {
  for (const VARIANT& item : items) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, const_cast<VARIANT*>(&item));
    items_.push_back(copy);
  }
}

FakeEnumVariant::~FakeEnumVariant() {
  for (VARIANT& item : items_) VariantClear(&item);
}

HRESULT FakeEnumVariant::Next(ULONG count, VARIANT* items, ULONG* fetched) {
  ULONG done = 0;
  while (done < count && next_ < items_.size()) {
    VariantInit(&items[done]);
    VariantCopy(&items[done], &items_[next_++]);
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT FakeEnumVariant::Skip(ULONG count) {
  next_ = std::min(items_.size(), next_ + count);
  return next_ < items_.size() ? S_OK : S_FALSE;
}

HRESULT FakeEnumVariant::Reset() {
  next_ = 0;
  return S_OK;
}

HRESULT FakeEnumVariant::Clone(IEnumVARIANT**) { return E_NOTIMPL; }

}  // namespace testing
}  // namespace installer
