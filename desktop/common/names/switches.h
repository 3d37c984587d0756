// The command-line switches through which the installer's processes, the browser and the
// crash reporter talk to each other. A switch is read and written under one name only, so
// every reader and writer takes it from here.
#ifndef DESKTOP_COMMON_NAMES_SWITCHES_H_
#define DESKTOP_COMMON_NAMES_SWITCHES_H_

namespace switches {

// The installation request, as users write it and as the front end passes it on.
constexpr char kAllUsers[] = "allusers";
constexpr char kCopyOnly[] = "copyonly";
constexpr char kDeleteUserProfile[] = "deleteuserprofile";
constexpr char kDesktopShortcut[] = "desktopshortcut";
constexpr char kEnableInstallerStats[] = "enable-installer-stats";
constexpr char kEnableStats[] = "enable-stats";
constexpr char kImportBrowserData[] = "import-browser-data";
constexpr char kInstallAssistant[] = "install-assistant";
constexpr char kInstallFolder[] = "installfolder";
constexpr char kLanguage[] = "language";
constexpr char kLaunchBrowser[] = "launchbrowser";
constexpr char kLaunchVelum[] = "launchvelum";
constexpr char kMedium[] = "medium";
constexpr char kNiuid[] = "niuid";
constexpr char kPinToTaskbar[] = "pintotaskbar";
constexpr char kProfileFolder[] = "profile-folder";
constexpr char kQuickLaunchShortcut[] = "quicklaunchshortcut";
constexpr char kReplaceBasaltInstallation[] = "replacebasaltinstallation";
constexpr char kRunImmediately[] = "runimmediately";
constexpr char kSetDefaultBrowser[] = "setdefaultbrowser";
constexpr char kSilent[] = "silent";
constexpr char kSingleProfile[] = "singleprofile";
constexpr char kStartMenuShortcut[] = "startmenushortcut";

// What the run does.
constexpr char kAutoupdate[] = "autoupdate";
constexpr char kBackend[] = "backend";
constexpr char kInstall[] = "install";
constexpr char kRegisterAsProtocolHandler[] = "register-velum-as-protocol-handler";
constexpr char kUninstall[] = "uninstall";

// Informational runs.
constexpr char kHelp[] = "help";
constexpr char kHelpShort[] = "?";
constexpr char kInternalVersion[] = "internal-version";
constexpr char kStream[] = "stream";
constexpr char kVersion[] = "version";

// Between the installer's own processes.
constexpr char kComponents[] = "components";
constexpr char kInitialPid[] = "initial-pid";
constexpr char kInitialProcHandle[] = "initial-proc-handle";
constexpr char kParentPid[] = "parent-pid";
constexpr char kPermanentPermissions[] = "permanent-permissions";
constexpr char kPermissionsForUser[] = "permissions-for-user";
constexpr char kPostElevatedInstallTasks[] = "post-elevated-install-tasks";
constexpr char kRunElevated[] = "run-elevated";
constexpr char kRunUninstallBat[] = "run-uninstall-bat";
constexpr char kServerTrackingBlob[] = "server-tracking-blob";
constexpr char kServerTrackingData[] = "server-tracking-data";
constexpr char kSetFolderPermission[] = "set-folder-permission";
constexpr char kTempFolder[] = "temp-folder";
constexpr char kWaitForPackage[] = "wait-for-package";

// The crash reporter's.
constexpr char kCrashReporterExceptionInfo[] = "crash-reporter-exception-info";
constexpr char kCrashReporterParentId[] = "crash-reporter-parent-id";
constexpr char kCrashReporterPid[] = "crash-reporter-pid";

// Servers of development and testing in place of the product's.
constexpr char kInternalPackageServer[] = "internal-package-server";
constexpr char kLocalPrefDefaultOverridesServer[] = "local-pref-default-overrides-server";
constexpr char kLocalStatsServer[] = "local-stats-server";
// Seconds the statistics POST to the local endpoint waits for a byte and for a try's progress;
// only with it.
constexpr char kLocalStatsReceiveTimeout[] = "local-stats-receive-timeout";

// The browser's, which the installer passes on or the crash reporter reads.
constexpr char kImportBookmarks[] = "import-bookmarks";
constexpr char kImportSession[] = "import-session";
constexpr char kImportTopsitesToStartPage[] = "import-topsites-to-start-page";
constexpr char kNoErrDialogs[] = "noerrdialogs";
constexpr char kPluginPath[] = "plugin-path";
constexpr char kScheduledAutoupdate[] = "scheduledautoupdate";
constexpr char kStartMaximized[] = "start-maximized";
constexpr char kUserDataDir[] = "user-data-dir";

}  // namespace switches

#endif  // DESKTOP_COMMON_NAMES_SWITCHES_H_
