// Progress reports of the downloader and the package fetcher, implemented by the
// controllers and by the fetcher's proxy that carries reports to the UI thread.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_H_

#include <stdint.h>

namespace installer {

class FetcherDelegate {
 public:
  virtual ~FetcherDelegate() {}
  virtual void SetTotalProgress(uint32_t total) = 0;
  virtual void SetCurrentProgress(uint32_t current) = 0;
  virtual void NotifyStalled(uint32_t error) = 0;
  virtual void NotifyStatusChanged(int status) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FETCHER_DELEGATE_H_
