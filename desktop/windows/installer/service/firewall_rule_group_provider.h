// The name of the firewall rule group that holds the browser's rules.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_RULE_GROUP_PROVIDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_RULE_GROUP_PROVIDER_H_

#include <string>

namespace installer {

class FirewallRuleGroupProvider {
 public:
  // The process-wide provider, made on first use and never deleted. No lock: the first
  // use is on the installation thread.
  static FirewallRuleGroupProvider* GetInstance();

  FirewallRuleGroupProvider() = default;
  virtual ~FirewallRuleGroupProvider() = default;
  FirewallRuleGroupProvider(const FirewallRuleGroupProvider&) = delete;
  FirewallRuleGroupProvider& operator=(const FirewallRuleGroupProvider&) = delete;

  virtual void GetFirewallRuleGroup(std::wstring* group);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_RULE_GROUP_PROVIDER_H_
