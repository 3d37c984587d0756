#include "desktop/windows/installer/service/association_placeholder_resolver.h"

#include <gtest/gtest.h>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/service/product_values.h"

namespace installer {
namespace {

TEST(AssociationPlaceholderResolverTest, ResolvesItsNamesExactly) {
  AssociationPlaceholderResolver resolver(L".htm", L"C:\\Program Files\\Velum");
  const std::wstring stream = base::ASCIIToWide(GetChannelName());
  const std::wstring product = base::ASCIIToWide(GetBuildProductName());
  struct Case {
    const wchar_t* name;
    std::wstring value;
  } cases[] = {
      {L"InstallFolder", L"C:\\Program Files\\Velum"},
      {L"Stream", stream},
      {L"Product", product},
      // Both give the association name, whichever of the two it was made for.
      {L"Extension", L".htm"},
      {L"Protocol", L".htm"},
      // Names compare case-sensitively; unknown ones resolve to themselves.
      {L"installfolder", L"installfolder"},
      {L"Unknown", L"Unknown"},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value, resolver.Resolve(c.name)) << c.name;
  EXPECT_EQ(L"Stable", stream);
  EXPECT_EQ(nullptr, resolver.GetRegistryLog(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(nullptr, resolver.GetRegistryLog(HKEY_CURRENT_USER));

  AssociationPlaceholderResolver browser_class(L"", L"C:\\V");
  EXPECT_EQ(L"", browser_class.Resolve(L"Extension"));
}

}  // namespace
}  // namespace installer
