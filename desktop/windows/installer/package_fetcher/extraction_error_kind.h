// Which step of a package's unpacking failed: the kind that LzmaUtil's and OutputWriter's
// failures carry (base::Failure::kind), so that the writer's failures pass through the
// extraction unchanged.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTION_ERROR_KIND_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTION_ERROR_KIND_H_

namespace installer {

enum ExtractionErrorKind : int {
  ERROR_KIND_NONE = 0,
  ERROR_KIND_ARCHIVE_NOT_FOUND = 1,
  ERROR_KIND_ARCHIVE_NOT_OPENABLE = 2,
  ERROR_KIND_NOT_7Z = 3,
  ERROR_KIND_DECODING = 4,
  ERROR_KIND_PAGING = 5,
  ERROR_KIND_NO_NAME = 6,
  // The output's folder or file could not be made.
  ERROR_KIND_CREATE_FILE = 7,
  ERROR_KIND_WRITE = 8,
  ERROR_KIND_SET_TIME = 9,
  ERROR_KIND_CLOSE = 10,
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_EXTRACTION_ERROR_KIND_H_
