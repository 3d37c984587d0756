// FolderDecoder decodes one folder (solid block) of a 7z archive into a buffer of the
// folder's unpacked size, in steps, so that the files at the block's start can be
// written while the rest decodes:
//
//   FolderDecoder decoder(db, stream, folder, buffer, size);
//   for each file of the folder: if (decoder.DecodeTo(file_end) == SZ_OK) ...
//
// A folder of one LZMA, LZMA2 or Copy coder without a checksum of its own is decoded in
// steps with the SDK's own decoders, as its SzAr_DecodeFolder would decode it; any other
// folder (branch filters, BCJ2, a folder checksum) is decoded whole by SzAr_DecodeFolder
// at the first step, since its bytes are final only at the end.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_DECODER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_DECODER_H_

#include <stddef.h>

#include "lzma/7z.h"
#include "lzma/Lzma2Dec.h"
#include "lzma/LzmaDec.h"

namespace installer {

class FolderDecoder {
 public:
  // |out| holds |size| bytes, the folder's unpacked size; |db|, |stream| and |out| must
  // outlive the decoder, and nothing else may read |stream| until it is done.
  FolderDecoder(const CSzArEx* db, ILookInStreamPtr stream, UInt32 folder, Byte* out,
                size_t size);
  ~FolderDecoder();
  FolderDecoder(const FolderDecoder&) = delete;
  FolderDecoder& operator=(const FolderDecoder&) = delete;

  // Decodes until at least the first |end| bytes (at most the size) are final; SZ_OK or
  // the SDK's error, which every later call returns again.
  [[nodiscard]] SRes DecodeTo(size_t end);
  // The bytes at the buffer's start that are final.
  size_t decoded() const { return decoded_; }

 private:
  enum Coder { kWhole, kCopy, kLzma, kLzma2 };

  // Chooses the coder and prepares the stream and the decoder's state.
  [[nodiscard]] SRes Start();
  // One turn of the SDK's decoding loop for the coder, with the output limited to
  // |limit|; |finished| once the folder's end is decoded and checked.
  [[nodiscard]] SRes Step(size_t limit, bool* finished);

  const CSzArEx* const db_;
  const ILookInStreamPtr stream_;
  const UInt32 folder_;
  Byte* const out_;
  const size_t size_;
  Coder coder_ = kWhole;
  bool started_ = false;
  bool finished_ = false;
  SRes error_ = SZ_OK;
  size_t decoded_ = 0;
  UInt64 in_left_ = 0;
  CLzmaDec lzma_;
  CLzma2Dec lzma2_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_DECODER_H_
