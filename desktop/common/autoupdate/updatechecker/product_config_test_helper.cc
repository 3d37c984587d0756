// A host without the configuration resource: prints the product name and company it
// finds (through "_harborlib.pyd" when that lies beside it), separated by "|".
#include <cstdio>

#include "desktop/common/autoupdate/updatechecker/product_config.h"

int wmain() {
  std::printf("%s|%s", installer::GetProductName().c_str(),
              installer::GetCompanyName().c_str());
  std::fflush(stdout);
  return 0;
}
