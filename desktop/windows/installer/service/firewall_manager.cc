#include "desktop/windows/installer/service/firewall_manager.h"

#include <oleauto.h>

#include <utility>

#include "base/guid.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

// The firewall identifiers the headers only declare are defined here, in this one
// translation unit.
#include <initguid.h>
DEFINE_GUID(CLSID_NetFwPolicy2, 0xe2b3c97f, 0x6ae1, 0x41ac, 0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66,
            0xd7, 0xdd);
DEFINE_GUID(IID_INetFwPolicy2, 0x98325047, 0xc671, 0x4174, 0x8d, 0x81, 0xde, 0xfc, 0xd3, 0xf0,
            0x31, 0x86);
DEFINE_GUID(CLSID_NetFwRule, 0x2c5bc43e, 0x3369, 0x4c33, 0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67,
            0x7a, 0xf4);
DEFINE_GUID(IID_INetFwRule, 0xaf230d27, 0xbaba, 0x4e42, 0xac, 0xed, 0xf5, 0x24, 0xf2, 0x2c,
            0xfc, 0xe2);

namespace installer {

namespace {

using Microsoft::WRL::ComPtr;

// In-process server and handler, local and remote server.
const DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                            CLSCTX_REMOTE_SERVER;
const char kRuleNamePrefix[] = "Velum Internet Browser";
const char kMdnsRuleSuffix[] = " (mDNS-In)";
const char kMdnsRuleDescription[] = "Inbound rule to allow mDNS traffic.";
const uint16_t kMdnsPort = 5353;
const LONG kUdpProtocol = 17;
const LONG kAllProfiles = 0x7FFFFFFF;

}  // namespace

// static
std::unique_ptr<FirewallManager> FirewallManager::Create(FirewallRuleGroupProvider* provider,
                                                         const base::FilePath& application_path,
                                                         const ComObjectFactory& factory) {
  std::unique_ptr<FirewallManager> manager(new FirewallManager(factory));
  std::wstring group;
  provider->GetFirewallRuleGroup(&group);
  if (!manager->Initialize(group, application_path)) return nullptr;
  return manager;
}

FirewallManager::FirewallManager(const ComObjectFactory& factory) : factory_(factory) {}

FirewallManager::~FirewallManager() {
  // The collection goes before the policy that gave it.
  rules_.Reset();
  policy_.Reset();
}

bool FirewallManager::Initialize(const std::wstring& group,
                                 const base::FilePath& application_path) {
  rules_.Reset();
  policy_.Reset();
  if (FAILED(factory_(CLSID_NetFwPolicy2, kClassContext, IID_INetFwPolicy2,
                      reinterpret_cast<void**>(policy_.GetAddressOf())))) {
    policy_.Reset();
    return false;
  }
  if (FAILED(policy_->get_Rules(rules_.GetAddressOf()))) {
    rules_.Reset();
    policy_.Reset();
    return false;
  }
  rule_group_ = group;
  application_path_ = application_path;
  return true;
}

bool FirewallManager::HasRules() {
  if (!IsFirewallEnabled()) return true;
  return !GetApplicationRules().empty();
}

bool FirewallManager::AddMdnsInboundRule() {
  const std::wstring name = base::UTF8ToWide(std::string(kRuleNamePrefix) + kMdnsRuleSuffix);
  return AddRule(name, base::UTF8ToWide(kMdnsRuleDescription), kMdnsPort);
}

void FirewallManager::RemoveRules() {
  for (const ComPtr<INetFwRule>& rule : GetApplicationRules()) RemoveRule(rule.Get());
}

bool FirewallManager::IsFirewallEnabled() {
  LONG profile_types = 0;
  if (FAILED(policy_->get_CurrentProfileTypes(&profile_types))) return false;
  const NET_FW_PROFILE_TYPE2 profiles[] = {NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE,
                                           NET_FW_PROFILE2_DOMAIN};
  for (NET_FW_PROFILE_TYPE2 profile : profiles) {
    if (!(profile_types & profile)) continue;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    // A profile that cannot be asked counts as protected.
    if (FAILED(policy_->get_FirewallEnabled(profile, &enabled)) || enabled) return true;
  }
  return false;
}

FirewallManager::RuleList FirewallManager::GetApplicationRules() {
  RuleList rules;
  ComPtr<IUnknown> unknown;
  if (FAILED(rules_->get__NewEnum(unknown.GetAddressOf())) || !unknown) return rules;
  ComPtr<IEnumVARIANT> enumerator;
  if (FAILED(unknown.As(&enumerator))) return rules;
  for (;;) {
    base::ScopedVariant element;
    ULONG fetched = 0;
    if (enumerator->Next(1, element.Receive(), &fetched) != S_OK) break;
    const VARIANT& value = element.Get();
    if (V_VT(&value) != VT_DISPATCH || !V_DISPATCH(&value)) continue;
    ComPtr<INetFwRule> rule;
    if (FAILED(V_DISPATCH(&value)->QueryInterface(IID_PPV_ARGS(rule.GetAddressOf())))) continue;
    base::ScopedBstr application;
    if (FAILED(rule->get_ApplicationName(application.Receive())) || !application.Get())
      continue;
    if (base::FilePath::CompareIgnoreCase(application.Get(), application_path_.value()) == 0)
      rules.push_back(rule);
  }
  return rules;
}

void FirewallManager::RemoveRule(INetFwRule* rule) {
  base::ScopedBstr unique_name(base::UTF8ToWide(base::GenerateGuid()).c_str());
  rule->put_Name(unique_name.Get());
  rules_->Remove(unique_name.Get());
}

void FirewallManager::RemoveRulesNamed(const std::wstring& name) {
  for (const ComPtr<INetFwRule>& rule : GetApplicationRules()) {
    base::ScopedBstr rule_name;
    if (FAILED(rule->get_Name(rule_name.Receive())) || !rule_name.Get()) continue;
    if (name == rule_name.Get()) RemoveRule(rule.Get());
  }
}

bool FirewallManager::AddRule(const std::wstring& name, const std::wstring& description,
                              uint16_t port) {
  RemoveRulesNamed(name);
  ComPtr<INetFwRule> rule = CreateRule(name, description, port);
  if (!rule) return false;
  return SUCCEEDED(rules_->Add(rule.Get()));
}

ComPtr<INetFwRule> FirewallManager::CreateRule(const std::wstring& name,
                                               const std::wstring& description,
                                               uint16_t port) {
  ComPtr<INetFwRule> rule;
  if (FAILED(factory_(CLSID_NetFwRule, kClassContext, IID_INetFwRule,
                      reinterpret_cast<void**>(rule.GetAddressOf())))) {
    return nullptr;
  }
  // The setters' results are not looked at: Add is the step that counts.
  rule->put_Name(base::ScopedBstr(name.c_str()).Get());
  rule->put_Description(base::ScopedBstr(description.c_str()).Get());
  rule->put_ApplicationName(base::ScopedBstr(application_path_.value().c_str()).Get());
  rule->put_Protocol(kUdpProtocol);
  rule->put_Direction(NET_FW_RULE_DIR_IN);
  rule->put_Enabled(VARIANT_TRUE);
  rule->put_LocalPorts(base::ScopedBstr(base::StringPrintf(L"%u", port).c_str()).Get());
  rule->put_Grouping(base::ScopedBstr(rule_group_.c_str()).Get());
  rule->put_Profiles(kAllProfiles);
  rule->put_Action(NET_FW_ACTION_ALLOW);
  return rule;
}

}  // namespace installer
