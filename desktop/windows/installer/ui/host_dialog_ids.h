// The ids of the host's dialogs and of their controls, written once: the dialog script
// (host/host_dialogs.rc) and the windows that drive the dialogs both read them. Plain
// defines, which the resource compiler understands.
#ifndef DESKTOP_WINDOWS_INSTALLER_UI_HOST_DIALOG_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_HOST_DIALOG_IDS_H_

// The dialogs: the wizard window, its options panel and the message box.
#define IDD_INSTALLER_WINDOW 101
#define IDD_OPTIONS_PANEL 138
#define IDD_MESSAGE_BOX 102

// The controls of the wizard window and its options panel.
#define IDC_LOGO 1000
#define IDC_OPTIONS_BUTTON 1001
#define IDC_CANCEL_BUTTON 1002
#define IDC_ACCEPT_BUTTON 1003
#define IDC_FULL_PACKAGE_BUTTON 1004
#define IDC_RETRY_BUTTON 1005
#define IDC_UNINSTALL_BUTTON 1006
#define IDC_HEADLINE 1007
#define IDC_TERMS_AGREEMENT 1008
#define IDC_THANK_YOU 1009
#define IDC_INSTALL_FAILED_TITLE 1010
#define IDC_PROGRESS_TEXT 1011
#define IDC_TERMS_TEXT 1012
#define IDC_BACK_BUTTON 1013
#define IDC_LANGUAGE_BOX 1014
#define IDC_MODE_BOX 1015
#define IDC_PATH_BOX 1016
#define IDC_MAIN_PATH_BOX 1017
#define IDC_CHANGE_FOLDER_BUTTON 1018
#define IDC_MAIN_CHANGE_FOLDER_BUTTON 1019
#define IDC_DEFAULT_BROWSER_BOX 1022
#define IDC_IMPORT_DATA_BOX 1023
#define IDC_SHARE_STATS_BOX 1024
#define IDC_PROGRESS_BAR 1025
#define IDC_INVALID_PATH_WARNING 1027
#define IDC_UNINSTALL_QUESTION 1029
#define IDC_DELETE_PROFILE_BOX 1030
#define IDC_LANGUAGE_LABEL 1031
#define IDC_MODE_LABEL 1032
#define IDC_PATH_LABEL 1033
#define IDC_UNINSTALL_FAILED_TITLE 1038
#define IDC_TERMS_SCROLL_BAR 1039

// The controls of the message box.
#define IDC_BOX_TEXT 1035
#define IDC_BOX_ACCEPT_BUTTON 1036
#define IDC_BOX_CANCEL_BUTTON 1037

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_HOST_DIALOG_IDS_H_
