// PayloadReader: finds the data appended to an installer file (tracking data or a full
// 7z package), classifies it and hands it out.
//
//   PayloadReader reader(installer_path);
//   if (reader.type() == PayloadReader::FULL_PACKAGE)
//     reader.WritePayloadToFile(archive_path);
//
// Block layout, ending at the end of the file or at the certificate table of a signed
// file: "VLM", the payload, the payload length as u32 little-endian.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"

namespace installer {

class PayloadReader {
 public:
  enum PayloadType {
    PAYLOAD_NONE = 0,
    TRACKING_DATA = 1,
    EXTERNAL_TRACKING_DATA = 2,
    FULL_PACKAGE = 3,
    CORRUPTED = 4,
  };

  // Maps and classifies |path| (the running installer or a downloaded package).
  explicit PayloadReader(const base::FilePath& path);
  ~PayloadReader();
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;

  // "none", "tracking_data", ...; empty for a value that is no payload type.
  static std::string PayloadTypeToString(int type);

  int type() const { return type_; }
  const base::FilePath& path() const { return path_; }

  // The injected tracking data when there is some, else the file's own tracking data;
  // empty when the file holds none or is corrupted.
  std::string GetTrackingData() const;
  // Tracking data given from outside wins over whatever the file holds.
  void SetExternalTrackingData(const std::string& data);
  // Writes the full package, or else the tracking data, to |path| (created or replaced);
  // false when there is nothing to write or not every byte was written.
  [[nodiscard]] bool WritePayloadToFile(const base::FilePath& path) const;

 private:
  void ClassifyPayload();
  [[nodiscard]] bool CopyPayloadTo(const base::FilePath& path) const;

  base::FilePath path_;
  base::MappedFile mapped_file_;
  std::string external_tracking_data_;
  int64_t payload_length_ = 0;
  int64_t payload_offset_ = 0;
  int type_ = PAYLOAD_NONE;
  // The block found holds tracking data (not a package, accepted or rejected).
  bool file_has_tracking_data_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
