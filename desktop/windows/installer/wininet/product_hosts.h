// The host names that the installer's own requests (the download address, the statistics,
// the preference defaults) may be answered from: the maker's servers and its development
// networks. One list of names, so that every request trusts the same servers.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_PRODUCT_HOSTS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_PRODUCT_HOSTS_H_

namespace installer {

// The maker's domain; the configuration's "domain" names it too.
inline constexpr wchar_t kProductDomainSuffix[] = L".velumsoftware.com";
inline constexpr wchar_t kInternalDomainSuffix[] = L".velum.corp";
inline constexpr wchar_t kSecondInternalDomainSuffix[] = L".velum.test";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_PRODUCT_HOSTS_H_
