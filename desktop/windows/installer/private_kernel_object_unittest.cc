#include "desktop/windows/installer/private_kernel_object.h"

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <string>

#include "base/strings/stringprintf.h"
#include "base/win/scoped_generic.h"

namespace installer {
namespace {

std::wstring UniqueName(const wchar_t* what) {
  static int count = 0;
  return base::StringPrintf(L"Local\\VelumTest%ls%lu-%d", what, GetCurrentProcessId(), ++count);
}

// A descriptor from SDDL text, for objects "someone else" makes.
base::ScopedLocalAlloc<> Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  return base::ScopedLocalAlloc<>(descriptor);
}

// The trustees of the object's DACL entries, as SDDL SIDs, in order.
std::wstring DaclTrustees(HANDLE object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &raw) != ERROR_SUCCESS) {
    return L"(unreadable)";
  }
  const base::ScopedLocalAlloc<> descriptor(raw);
  std::wstring trustees;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(&ace->SidStart, &text)) continue;
    trustees += std::wstring(trustees.empty() ? L"" : L" ") + text;
    LocalFree(text);
  }
  return trustees;
}

TEST(PrivateKernelObjectTest, AnEventIsOursAloneAndNeverAdopted) {
  const std::wstring name = UniqueName(L"Event");
  base::ScopedHandle event;
  ASSERT_TRUE(CreatePrivateEvent(name, true, &event));
  // This user, the administrators and the system; nobody else.
  const std::wstring trustees = DaclTrustees(event.Get());
  EXPECT_EQ(3u, std::count(trustees.begin(), trustees.end(), L' ') + 1u) << trustees;
  EXPECT_NE(std::wstring::npos, trustees.find(L"S-1-5-32-544")) << trustees;
  EXPECT_NE(std::wstring::npos, trustees.find(L"S-1-5-18")) << trustees;

  // A name someone made first, whoever it was.
  base::ScopedHandle second;
  EXPECT_FALSE(CreatePrivateEvent(name, true, &second));
  EXPECT_FALSE(second.IsValid());
  const std::wstring planted = UniqueName(L"Planted");
  base::ScopedHandle theirs(CreateEventW(nullptr, TRUE, FALSE, planted.c_str()));
  ASSERT_TRUE(theirs.IsValid());
  EXPECT_FALSE(CreatePrivateEvent(planted, true, &second));
}

TEST(PrivateKernelObjectTest, AMutexIsJoinedOnlyWhenOurUserOrTheAdministratorsOwnIt) {
  const struct {
    const char* name;
    const wchar_t* made_first;  // the maker's descriptor; null: another of our own
    bool joined;
  } cases[] = {
      {"another installation's of this user", nullptr, true},
      {"another installation's, owned by the administrators", L"O:BAD:(A;;GA;;;WD)", true},
      {"one owned by everyone", L"O:WDD:(A;;GA;;;WD)", false},
      {"one owned by the guests", L"O:BGD:(A;;GA;;;WD)", false},
  };
  for (const auto& c : cases) {
    const std::wstring name = UniqueName(L"Mutex");
    base::ScopedHandle theirs;
    if (!c.made_first) {
      ASSERT_TRUE(CreateOrJoinPrivateMutex(name, false, &theirs));
    } else {
      base::ScopedLocalAlloc<> descriptor = Descriptor(c.made_first);
      SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
      theirs.Set(CreateMutexW(&attributes, FALSE, name.c_str()));
      ASSERT_TRUE(theirs.IsValid()) << c.name;
    }
    base::ScopedHandle mutex;
    EXPECT_EQ(c.joined, CreateOrJoinPrivateMutex(name, true, &mutex)) << c.name;
    EXPECT_EQ(c.joined, mutex.IsValid()) << c.name;
  }
}

// Whether a child started with inheritance gets `object`.
bool Inheritable(HANDLE object) {
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(object, &flags));
  return (flags & HANDLE_FLAG_INHERIT) != 0;
}

// The runner starts its backend inheriting handles: the installer mutex goes with it, the
// events, opened by name where needed, never do.
TEST(PrivateKernelObjectTest, OnlyAMutexAskedToBeInheritableIsInherited) {
  for (bool manual_reset : {true, false}) {
    base::ScopedHandle event;
    ASSERT_TRUE(CreatePrivateEvent(UniqueName(L"Event"), manual_reset, &event));
    EXPECT_FALSE(Inheritable(event.Get())) << manual_reset;
  }
  for (bool inheritable : {true, false}) {
    const std::wstring name = UniqueName(L"Mutex");
    base::ScopedHandle mutex;
    ASSERT_TRUE(CreateOrJoinPrivateMutex(name, inheritable, &mutex));
    EXPECT_EQ(inheritable, Inheritable(mutex.Get()));
    // Joined, the handle is as asked too, whatever the first one's was.
    base::ScopedHandle joined;
    ASSERT_TRUE(CreateOrJoinPrivateMutex(name, !inheritable, &joined));
    EXPECT_EQ(!inheritable, Inheritable(joined.Get()));
  }
}

}  // namespace
}  // namespace installer
