#include "desktop/windows/installer/service/firewall_manager.h"

#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/win/scoped_bstr.h"
#include "desktop/windows/installer/service/fake_com_object_test_util.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;
using testing::FakeDispatch;
using testing::FakeEnumVariant;

const wchar_t kBrowser[] = L"C:\\Program Files\\Velum\\Application\\velum.exe";
const wchar_t kOtherApplication[] = L"C:\\Program Files\\Other\\other.exe";
const wchar_t kMdnsRuleName[] = L"Velum Internet Browser (mDNS-In)";
const DWORD kExpectedClassContext = 23;

class FakeRule : public FakeDispatch<INetFwRule> {
 public:
  FAKE_TEXT_PROPERTY(Name)
  FAKE_TEXT_PROPERTY(Description)
  FAKE_TEXT_PROPERTY(ApplicationName)
  FAKE_TEXT_PROPERTY(ServiceName)
  FAKE_NUMBER_PROPERTY(Protocol, LONG)
  FAKE_TEXT_PROPERTY(LocalPorts)
  FAKE_TEXT_PROPERTY(RemotePorts)
  FAKE_TEXT_PROPERTY(LocalAddresses)
  FAKE_TEXT_PROPERTY(RemoteAddresses)
  FAKE_TEXT_PROPERTY(IcmpTypesAndCodes)
  FAKE_NUMBER_PROPERTY(Direction, NET_FW_RULE_DIRECTION)
  FAKE_NOT_IMPLEMENTED(get_Interfaces, VARIANT*)
  FAKE_NOT_IMPLEMENTED(put_Interfaces, VARIANT)
  FAKE_TEXT_PROPERTY(InterfaceTypes)
  FAKE_NUMBER_PROPERTY(Enabled, VARIANT_BOOL)
  FAKE_TEXT_PROPERTY(Grouping)
  FAKE_NUMBER_PROPERTY(Profiles, LONG)
  FAKE_NUMBER_PROPERTY(EdgeTraversal, VARIANT_BOOL)
  FAKE_NUMBER_PROPERTY(Action, NET_FW_ACTION)
};

// A rule of `application` named `name`, as the firewall would hold it.
ComPtr<INetFwRule> MakeRule(const wchar_t* name, const wchar_t* application) {
  ComPtr<INetFwRule> rule = testing::MakeFake<FakeRule>();
  rule->put_Name(base::ScopedBstr(name).Get());
  if (application) rule->put_ApplicationName(base::ScopedBstr(application).Get());
  return rule;
}

// Every rule the tests meet is a fake.
const testing::FakePropertyBag& PropertiesOf(INetFwRule* rule) {
  return static_cast<FakeRule*>(rule)->properties();
}
std::wstring NameOf(INetFwRule* rule) { return PropertiesOf(rule).Text("Name"); }
std::wstring ApplicationOf(INetFwRule* rule) {
  return PropertiesOf(rule).Text("ApplicationName");
}

class FakeRules : public FakeDispatch<INetFwRules> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(rules.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    if (FAILED(add_result)) return add_result;
    rules.push_back(rule);
    return S_OK;
  }
  // Like the firewall: one rule of that name goes.
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    removed_names.push_back(name);
    for (auto it = rules.begin(); it != rules.end(); ++it) {
      if (NameOf(it->Get()) == name) {
        rules.erase(it);
        break;
      }
    }
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(Item, BSTR, INetFwRule**)
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override {
    if (FAILED(enum_result)) return enum_result;
    std::vector<VARIANT> items;
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 7;
    items.push_back(number);  // not a rule: skipped
    for (const ComPtr<INetFwRule>& rule : rules) {
      VARIANT item;
      VariantInit(&item);
      V_VT(&item) = VT_DISPATCH;
      V_DISPATCH(&item) = rule.Get();
      items.push_back(item);  // copied (with a reference) by the enumerator
    }
    *enumerator = new FakeEnumVariant(items);
    return S_OK;
  }

  std::vector<ComPtr<INetFwRule>> RulesNamed(const std::wstring& name) {
    std::vector<ComPtr<INetFwRule>> found;
    for (const ComPtr<INetFwRule>& rule : rules)
      if (NameOf(rule.Get()) == name) found.push_back(rule);
    return found;
  }

  std::vector<ComPtr<INetFwRule>> rules;
  std::vector<std::wstring> removed_names;
  HRESULT add_result = S_OK;
  HRESULT enum_result = S_OK;
};

class FakePolicy : public FakeDispatch<INetFwPolicy2> {
 public:
  FakePolicy() : collection(testing::MakeFake<FakeRules>()) {}

  HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* profile) override {
    *profile = current_profiles;
    return profiles_result;
  }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile,
                                                VARIANT_BOOL* on) override {
    asked_profiles.push_back(profile);
    if (profile == failing_profile) return E_FAIL;
    *on = (enabled_profiles & profile) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(put_FirewallEnabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(get_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT*)
  FAKE_NOT_IMPLEMENTED(put_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT)
  FAKE_NOT_IMPLEMENTED(get_BlockAllInboundTraffic, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(put_BlockAllInboundTraffic, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(get_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(put_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(get_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2,
      VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(put_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2,
      VARIANT_BOOL)
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** rules) override {
    if (FAILED(rules_result)) return rules_result;
    *rules = collection.Get();
    (*rules)->AddRef();
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(get_ServiceRestriction, INetFwServiceRestriction**)
  FAKE_NOT_IMPLEMENTED(EnableRuleGroup, LONG, BSTR, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(IsRuleGroupEnabled, LONG, BSTR, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(RestoreLocalFirewallDefaults)
  FAKE_NOT_IMPLEMENTED(get_DefaultInboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION*)
  FAKE_NOT_IMPLEMENTED(put_DefaultInboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
  FAKE_NOT_IMPLEMENTED(get_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION*)
  FAKE_NOT_IMPLEMENTED(put_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
  FAKE_NOT_IMPLEMENTED(get_IsRuleGroupCurrentlyEnabled, BSTR, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(get_LocalPolicyModifyState, NET_FW_MODIFY_STATE*)

  ComPtr<FakeRules> collection;
  LONG current_profiles = NET_FW_PROFILE2_PRIVATE | NET_FW_PROFILE2_PUBLIC;
  LONG enabled_profiles = NET_FW_PROFILE2_PUBLIC;
  HRESULT profiles_result = S_OK;
  HRESULT rules_result = S_OK;
  int failing_profile = 0;
  std::vector<int> asked_profiles;
};

// Hands out the fake policy and fresh fake rules, noting each request.
class FirewallManagerTest : public ::testing::Test {
 protected:
  FirewallManagerTest() : policy_(testing::MakeFake<FakePolicy>()) {}

  std::unique_ptr<FirewallManager> Create(const wchar_t* path = kBrowser) {
    return FirewallManager::Create(FirewallRuleGroupProvider::GetInstance(),
                                   base::FilePath(path),
                                   [this](REFCLSID clsid, DWORD context, REFIID iid,
                                          void** object) -> HRESULT {
                                     contexts_.push_back(context);
                                     if (IsEqualCLSID(clsid, CLSID_NetFwPolicy2)) {
                                       if (FAILED(policy_result_)) return policy_result_;
                                       return policy_->QueryInterface(iid, object);
                                     }
                                     if (IsEqualCLSID(clsid, CLSID_NetFwRule)) {
                                       if (FAILED(rule_result_)) return rule_result_;
                                       return testing::MakeFake<FakeRule>()->QueryInterface(
                                           iid, object);
                                     }
                                     return REGDB_E_CLASSNOTREG;
                                   });
  }

  FakeRules* rules() { return policy_->collection.Get(); }

  ComPtr<FakePolicy> policy_;
  HRESULT policy_result_ = S_OK;
  HRESULT rule_result_ = S_OK;
  std::vector<DWORD> contexts_;
};

TEST_F(FirewallManagerTest, AddsTheMdnsRuleWithItsExactValues) {
  std::unique_ptr<FirewallManager> manager = Create();
  ASSERT_TRUE(manager);
  ASSERT_TRUE(manager->AddMdnsInboundRule());
  ASSERT_EQ(1u, rules()->rules.size());
  const testing::FakePropertyBag& p = PropertiesOf(rules()->rules[0].Get());
  EXPECT_EQ(kMdnsRuleName, p.Text("Name"));
  EXPECT_EQ(L"Inbound rule to allow mDNS traffic.", p.Text("Description"));
  EXPECT_EQ(kBrowser, p.Text("ApplicationName"));
  EXPECT_EQ(17, p.Number("Protocol"));
  EXPECT_EQ(NET_FW_RULE_DIR_IN, p.Number("Direction"));
  EXPECT_EQ(VARIANT_TRUE, p.Number("Enabled"));
  EXPECT_EQ(L"5353", p.Text("LocalPorts"));
  EXPECT_EQ(L"Velum Internet Browser", p.Text("Grouping"));
  EXPECT_EQ(0x7FFFFFFF, p.Number("Profiles"));
  EXPECT_EQ(NET_FW_ACTION_ALLOW, p.Number("Action"));
  const std::vector<std::string> order = {"Name",       "Description", "ApplicationName",
                                          "Protocol",   "Direction",   "Enabled",
                                          "LocalPorts", "Grouping",    "Profiles",
                                          "Action"};
  EXPECT_EQ(order, p.order());
  EXPECT_EQ(std::vector<DWORD>(2, kExpectedClassContext), contexts_);
}

TEST_F(FirewallManagerTest, AddingAgainReplacesOnlyThisApplicationsRuleOfThatName) {
  rules()->rules.push_back(MakeRule(kMdnsRuleName, kOtherApplication));
  rules()->rules.push_back(MakeRule(L"Another rule", kBrowser));
  rules()->rules.push_back(MakeRule(L"velum internet browser (mdns-in)", kBrowser));
  std::unique_ptr<FirewallManager> manager = Create();
  ASSERT_TRUE(manager);
  ASSERT_TRUE(manager->AddMdnsInboundRule());
  ASSERT_TRUE(manager->AddMdnsInboundRule());

  std::vector<ComPtr<INetFwRule>> named = rules()->RulesNamed(kMdnsRuleName);
  ASSERT_EQ(2u, named.size());
  EXPECT_EQ(kOtherApplication, ApplicationOf(named[0].Get()));
  EXPECT_EQ(kBrowser, ApplicationOf(named[1].Get()));
  // The name match is exact; other names of the browser stay.
  EXPECT_EQ(1u, rules()->RulesNamed(L"Another rule").size());
  EXPECT_EQ(1u, rules()->RulesNamed(L"velum internet browser (mdns-in)").size());
  // The replaced rule was removed under a name of its own.
  ASSERT_EQ(1u, rules()->removed_names.size());
  EXPECT_EQ(36u, rules()->removed_names[0].size());  // GUID text
}

TEST_F(FirewallManagerTest, RemoveRulesTakesEveryRuleOfTheApplicationAlone) {
  std::wstring upper_case_path = kBrowser;
  for (wchar_t& c : upper_case_path) c = towupper(c);
  rules()->rules.push_back(MakeRule(L"Same", kBrowser));
  rules()->rules.push_back(MakeRule(L"Keep", kOtherApplication));
  rules()->rules.push_back(MakeRule(L"Same", kBrowser));
  rules()->rules.push_back(MakeRule(L"Same", kOtherApplication));
  rules()->rules.push_back(MakeRule(L"Shouting", upper_case_path.c_str()));
  rules()->rules.push_back(MakeRule(L"No application", nullptr));
  std::unique_ptr<FirewallManager> manager = Create();
  ASSERT_TRUE(manager);
  manager->RemoveRules();

  ASSERT_EQ(3u, rules()->rules.size());
  EXPECT_EQ(L"Keep", NameOf(rules()->rules[0].Get()));
  EXPECT_EQ(L"Same", NameOf(rules()->rules[1].Get()));
  EXPECT_EQ(kOtherApplication, ApplicationOf(rules()->rules[1].Get()));
  EXPECT_EQ(L"No application", NameOf(rules()->rules[2].Get()));
  ASSERT_EQ(3u, rules()->removed_names.size());
  EXPECT_NE(rules()->removed_names[0], rules()->removed_names[1]);
}

TEST_F(FirewallManagerTest, HasRules) {
  struct Case {
    const char* what;
    LONG current, enabled;
    HRESULT profiles_result;
    int failing_profile;
    bool with_rule;
    bool expected;
  } cases[] = {
      {"off in every current profile", NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC, S_OK, 0,
       false, true},
      {"on without a rule", NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PRIVATE, S_OK, 0, false,
       false},
      {"on with a rule", NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_DOMAIN, S_OK, 0, true, true},
      {"profiles unknown", 0, NET_FW_PROFILE2_PRIVATE, E_NOTIMPL, 0, false, true},
      {"a profile query fails", NET_FW_PROFILE2_PRIVATE, 0, S_OK, NET_FW_PROFILE2_PRIVATE, false,
       false},
  };
  for (const Case& c : cases) {
    policy_ = testing::MakeFake<FakePolicy>();
    policy_->current_profiles = c.current;
    policy_->enabled_profiles = c.enabled;
    policy_->profiles_result = c.profiles_result;
    policy_->failing_profile = c.failing_profile;
    if (c.with_rule) rules()->rules.push_back(MakeRule(L"Rule", kBrowser));
    std::unique_ptr<FirewallManager> manager = Create();
    ASSERT_TRUE(manager) << c.what;
    EXPECT_EQ(c.expected, manager->HasRules()) << c.what;
  }
}

TEST_F(FirewallManagerTest, AsksProfilesPublicPrivateDomainInThatOrder) {
  policy_->current_profiles = NET_FW_PROFILE2_DOMAIN | NET_FW_PROFILE2_PRIVATE |
                              NET_FW_PROFILE2_PUBLIC;
  policy_->enabled_profiles = 0;
  std::unique_ptr<FirewallManager> manager = Create();
  ASSERT_TRUE(manager);
  EXPECT_TRUE(manager->HasRules());
  const std::vector<int> order = {NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE,
                                  NET_FW_PROFILE2_DOMAIN};
  EXPECT_EQ(order, policy_->asked_profiles);
}

TEST_F(FirewallManagerTest, Failures) {
  policy_result_ = REGDB_E_CLASSNOTREG;
  EXPECT_FALSE(Create()) << "no policy";
  policy_result_ = S_OK;
  policy_->rules_result = E_ACCESSDENIED;
  EXPECT_FALSE(Create()) << "no rules collection";
  policy_->rules_result = S_OK;

  std::unique_ptr<FirewallManager> manager = Create();
  ASSERT_TRUE(manager);
  rule_result_ = E_OUTOFMEMORY;
  EXPECT_FALSE(manager->AddMdnsInboundRule()) << "no rule object";
  rule_result_ = S_OK;
  rules()->add_result = E_ACCESSDENIED;
  EXPECT_FALSE(manager->AddMdnsInboundRule()) << "adding refused";
  // Without an enumerator there are no application rules to touch.
  rules()->add_result = S_OK;
  rules()->enum_result = E_NOTIMPL;
  rules()->rules.push_back(MakeRule(kMdnsRuleName, kBrowser));
  EXPECT_TRUE(manager->AddMdnsInboundRule());
  manager->RemoveRules();
  EXPECT_EQ(2u, rules()->rules.size());
}

// Against the system's own firewall service, for what Wine implements: the policy and
// its rules collection, rule creation and adding (stubs that store nothing).
TEST(FirewallManagerSystemTest, ReachesTheSystemFirewall) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    std::unique_ptr<FirewallManager> manager =
        FirewallManager::Create(FirewallRuleGroupProvider::GetInstance(),
                                base::FilePath(L"C:\\velum-firewall-test\\velum.exe"));
    ASSERT_TRUE(manager);
    EXPECT_TRUE(manager->AddMdnsInboundRule());
    manager->RemoveRules();
  }
  CoUninitialize();
}

}  // namespace
}  // namespace installer
