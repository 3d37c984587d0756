// The system's application association and activation services, as far as the headers
// for Windows 7 builds leave them out.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_INTERFACES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_INTERFACES_H_

#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>

namespace installer {

// {591209C7-767B-42B2-9FBA-44EE4615F2C7}
const CLSID kClsidApplicationAssociationRegistration = {
    0x591209c7, 0x767b, 0x42b2, {0x9f, 0xba, 0x44, 0xee, 0x46, 0x15, 0xf2, 0xc7}};
// {45BA127D-10A8-46EA-8AB7-56EA9078943C}
const CLSID kClsidApplicationActivationManager = {
    0x45ba127d, 0x10a8, 0x46ea, {0x8a, 0xb7, 0x56, 0xea, 0x90, 0x78, 0x94, 0x3c}};

// {4E530B0A-E611-4C77-A3AC-9031D022281B}
const IID kIidApplicationAssociationRegistration = {
    0x4e530b0a, 0xe611, 0x4c77, {0xa3, 0xac, 0x90, 0x31, 0xd0, 0x22, 0x28, 0x1b}};

// The layout shared by the internal association interfaces of the Windows 10 releases:
// three methods after IUnknown; the third makes an application the default for an
// extension or protocol.
struct IAssociationRegistrationInternal : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved2() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefault(const wchar_t* registered_application,
                                               const wchar_t* name, BOOL is_extension) = 0;
};

// IApplicationActivationManager (Windows 8 and later).
struct IApplicationActivationManagerWin8 : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ActivateApplication(const wchar_t* app_user_model_id,
                                                        const wchar_t* arguments,
                                                        int options, DWORD* process_id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ActivateForFile(const wchar_t* app_user_model_id,
                                                    IShellItemArray* items,
                                                    const wchar_t* verb,
                                                    DWORD* process_id) = 0;
  virtual HRESULT STDMETHODCALLTYPE ActivateForProtocol(const wchar_t* app_user_model_id,
                                                        IShellItemArray* items,
                                                        DWORD* process_id) = 0;
};

}  // namespace installer

__CRT_UUID_DECL(installer::IApplicationActivationManagerWin8, 0x2e941141, 0x7f97, 0x4756,
                0xba, 0x1d, 0x9d, 0xec, 0xde, 0x89, 0x4a, 0x3d)

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_INTERFACES_H_
