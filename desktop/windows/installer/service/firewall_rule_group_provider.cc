#include "desktop/windows/installer/service/firewall_rule_group_provider.h"

#include "base/strings/utf_string_conversions.h"

namespace installer {

namespace {

const char kFirewallRuleGroup[] = "Velum Internet Browser";

FirewallRuleGroupProvider* g_provider = nullptr;

}  // namespace

FirewallRuleGroupProvider* FirewallRuleGroupProvider::GetInstance() {
  if (!g_provider) g_provider = new FirewallRuleGroupProvider();
  return g_provider;
}

void FirewallRuleGroupProvider::GetFirewallRuleGroup(std::wstring* group) {
  *group = base::ASCIIToWide(kFirewallRuleGroup);
}

}  // namespace installer
