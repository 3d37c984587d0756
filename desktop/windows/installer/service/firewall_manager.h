// The browser's rules in the Windows Firewall: the inbound mDNS rule added at installation
// and every rule of the browser executable removed at uninstallation. A manager serves
// one application path for one installer step; COM must be initialised on the thread.
//
//   std::unique_ptr<FirewallManager> manager = FirewallManager::Create(
//       FirewallRuleGroupProvider::GetInstance(), browser_exe);
//   if (!manager || !manager->AddMdnsInboundRule()) ...
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_

#include <windows.h>

#include <netfw.h>
#include <stdint.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/com_object_factory.h"
#include "desktop/windows/installer/service/firewall_rule_group_provider.h"

namespace installer {

class FirewallManager {
 public:
  // Null when the firewall cannot be reached (no policy object or no rules collection).
  static std::unique_ptr<FirewallManager> Create(
      FirewallRuleGroupProvider* provider, const base::FilePath& application_path,
      const ComObjectFactory& factory = CreateSystemComObject);

  virtual ~FirewallManager();
  FirewallManager(const FirewallManager&) = delete;
  FirewallManager& operator=(const FirewallManager&) = delete;

  // True when the firewall is off in every current profile, else whether the
  // application has at least one rule.
  [[nodiscard]] virtual bool HasRules();
  // Adds the inbound mDNS rule, replacing this application's rules of the same name.
  [[nodiscard]] virtual bool AddMdnsInboundRule();
  // Removes every rule of the application.
  virtual void RemoveRules();

 private:
  typedef std::vector<Microsoft::WRL::ComPtr<INetFwRule>> RuleList;

  explicit FirewallManager(const ComObjectFactory& factory);

  [[nodiscard]] bool Initialize(const std::wstring& group, const base::FilePath& application_path);
  [[nodiscard]] bool IsFirewallEnabled();
  // The rules whose application is this manager's path, ignoring case.
  RuleList GetApplicationRules();
  // Renames the rule to a fresh GUID first so that only this rule goes.
  void RemoveRule(INetFwRule* rule);
  void RemoveRulesNamed(const std::wstring& name);
  [[nodiscard]] bool AddRule(const std::wstring& name, const std::wstring& description, uint16_t port);
  Microsoft::WRL::ComPtr<INetFwRule> CreateRule(const std::wstring& name,
                                                const std::wstring& description,
                                                uint16_t port);

  ComObjectFactory factory_;
  std::wstring rule_group_;
  base::FilePath application_path_;
  Microsoft::WRL::ComPtr<INetFwPolicy2> policy_;
  Microsoft::WRL::ComPtr<INetFwRules> rules_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_FIREWALL_MANAGER_H_
