#include "desktop/windows/installer/package_fetcher/file_checksum.h"
#include "desktop/windows/installer/statistics/stats_node.h"

#include <stddef.h>

#include <algorithm>

#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "crypto/sha2.h"

namespace installer {

namespace {

// How many bytes of each end of a mismatching file go into the report.
const size_t kReportedEdgeBytes = 50;

}  // namespace

bool IsSha256Hex(const std::string& checksum) {
  return checksum.size() == 64 &&
         checksum.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool CheckFileChecksum(const base::FilePath& path, const std::string& expected,
                       std::unique_ptr<base::Dictionary>* report) {
  base::MappedFile mapped;
  if (!mapped.Initialize(path, base::MappedFile::READ_ONLY)) {
    if (report) {
      report->reset(new base::Dictionary());
      (*report)->SetString("detail", "Unable to read the file");
    }
    LOG(ERROR) << "Unable to read " << path.value();
    return false;
  }

  const std::string actual = crypto::ComputeSha256Hex(mapped.data(), mapped.length());
  // Case-sensitive on purpose: the server sends lower-case hexadecimal.
  if (actual == expected)
    return true;

  if (report) {
    const size_t length = mapped.length();
    const size_t edge = std::min(kReportedEdgeBytes, length);
    report->reset(new base::Dictionary());
    (*report)->SetString("detail", "Checksum mismatch");
    (*report)->SetString("expected_checksum", BoundServerText(expected));
    (*report)->SetString("actual_checksum", actual);
    // A mapped file never exceeds the int32 range.
    (*report)->SetInteger("file_length", static_cast<int>(length));
    (*report)->SetString("file_start", base::HexEncode(mapped.data(), edge));
    (*report)->SetString("file_end", base::HexEncode(mapped.data() + length - edge, edge));
  }
  return false;
}

}  // namespace installer
