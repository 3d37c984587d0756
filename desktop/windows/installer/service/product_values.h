// The product configuration values that the system services read (company, file name
// base, product and stream names) come from the product configuration itself.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_

#include "desktop/common/autoupdate/updatechecker/product_config.h"

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_PRODUCT_VALUES_H_
