#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <memory>

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/pe_image.h"
#include "desktop/windows/installer/service/payload_block.h"

namespace installer {

namespace {

const uint8_t k7zSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};

}  // namespace

PayloadReader::PayloadReader(const base::FilePath& path) : path_(path) {
  ClassifyPayload();
}

PayloadReader::~PayloadReader() = default;

// static
std::string PayloadReader::PayloadTypeToString(int type) {
  switch (type) {
    case PAYLOAD_NONE:
      return "none";
    case TRACKING_DATA:
      return "tracking_data";
    case EXTERNAL_TRACKING_DATA:
      return "external_tracking_data";
    case FULL_PACKAGE:
      return "full_package";
    case CORRUPTED:
      return "corrupted";
  }
  return std::string();
}

std::string PayloadReader::GetTrackingData() const {
  if (type_ == PAYLOAD_NONE || type_ == CORRUPTED)
    return std::string();
  if (!external_tracking_data_.empty())
    return external_tracking_data_;
  // A package is never passed on as tracking data, even after an empty injection.
  if (!file_has_tracking_data_)
    return std::string();
  return std::string(reinterpret_cast<const char*>(mapped_file_.data()) + payload_offset_,
                     static_cast<size_t>(payload_length_));
}

void PayloadReader::SetExternalTrackingData(const std::string& data) {
  external_tracking_data_ = data;
  type_ = EXTERNAL_TRACKING_DATA;
}

bool PayloadReader::WritePayloadToFile(const base::FilePath& path) const {
  if (type_ == PAYLOAD_NONE || type_ == CORRUPTED)
    return false;
  LOG(INFO) << "Writing payload to file" << path.value();
  if (type_ == FULL_PACKAGE) return CopyPayloadTo(path);
  const std::string data = GetTrackingData();
  const int size = static_cast<int>(data.size());
  return base::WriteFile(path, data.data(), size) == size;
}

void PayloadReader::ClassifyPayload() {
  LOG(INFO) << "Reading Payload";
  if (!mapped_file_.Initialize(path_, base::MappedFile::READ_ONLY)) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    type_ = PAYLOAD_NONE;
    return;
  }

  // A header cut short before the security directory is as corrupt as a missing one.
  base::PeSecurityDirectory directory;
  if (!base::ReadPeSecurityDirectory(mapped_file_.data(), mapped_file_.length(), &directory)) {
    type_ = CORRUPTED;
    return;
  }
  uint32_t certificate_offset = directory.offset;
  const uint32_t certificate_size = directory.size;
  const bool is_signed = certificate_size != 0;
  if (!is_signed)
    certificate_offset = 0;
  const int64_t file_length = static_cast<int64_t>(mapped_file_.length());
  if (certificate_offset > file_length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    type_ = CORRUPTED;
    return;
  }

  PayloadBlock block;
  bool found_at_end = false;
  if (!FindInstallerPayloadBlock(mapped_file_.data(), mapped_file_.length(), certificate_offset,
                                 certificate_size, &block, &found_at_end)) {
    LOG(WARNING) << "No valid payload found";
    type_ = PAYLOAD_NONE;
    return;
  }
  payload_length_ = block.length;
  payload_offset_ = static_cast<int64_t>(block.offset);

  if (payload_length_ < static_cast<int64_t>(sizeof(k7zSignature)) ||
      memcmp(mapped_file_.data() + payload_offset_, k7zSignature, sizeof(k7zSignature)) !=
          0) {
    file_has_tracking_data_ = true;
    type_ = TRACKING_DATA;
    return;
  }
  if (is_signed && found_at_end) {
    LOG(ERROR) << "Found full package that is not covered by the signature";
    type_ = PAYLOAD_NONE;
    return;
  }
  type_ = FULL_PACKAGE;
}

bool PayloadReader::CopyPayloadTo(const base::FilePath& path) const {
  // Read through the file, not the view: every page of the view that is read stays in
  // the working set, so the package would need as much memory as its size.
  const size_t kChunk = 1 << 20;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  base::File out(path, base::File::FLAG_CREATE_ALWAYS | base::File::FLAG_WRITE);
  if (!out.IsValid()) return false;
  uint64_t done = 0;
  const uint64_t length = static_cast<uint64_t>(payload_length_);
  while (done < length) {
    const uint64_t at = static_cast<uint64_t>(payload_offset_) + done;
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<uint64_t>(kChunk, length - done));
    DWORD read = 0;
    if (!::ReadFile(mapped_file_.file().GetPlatformFile(), buffer.get(), wanted, &read,
                    &position) ||
        read != wanted)
      return false;
    if (out.Write(static_cast<int64_t>(done), buffer.get(), static_cast<int>(read)) !=
        static_cast<int>(read))
      return false;
    done += read;
  }
  return true;
}

}  // namespace installer
