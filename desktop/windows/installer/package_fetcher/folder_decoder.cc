#include "desktop/windows/installer/package_fetcher/folder_decoder.h"

#include <string.h>

#include <algorithm>

#include "lzma/7zAlloc.h"

namespace installer {

namespace {

// The SDK's method ids of the coders decoded in steps.
constexpr UInt64 kCopyMethod = 0;
constexpr UInt64 kLzmaMethod = 0x30101;
constexpr UInt64 kLzma2Method = 0x21;
// What the SDK's own loops ask of the stream at a time.
constexpr size_t kLookahead = 1 << 18;

// The SDK decodes a folder with its temporary allocator, which is the heap here.
const ISzAlloc kHeapAlloc = {SzAlloc, SzFree};

}  // namespace

FolderDecoder::FolderDecoder(const CSzArEx* db, ILookInStreamPtr stream, UInt32 folder,
                             Byte* out, size_t size)
    : db_(db), stream_(stream), folder_(folder), out_(out), size_(size) {
  LzmaDec_CONSTRUCT(&lzma_);
  Lzma2Dec_CONSTRUCT(&lzma2_);
}

FolderDecoder::~FolderDecoder() {
  LzmaDec_FreeProbs(&lzma_, &kHeapAlloc);
  Lzma2Dec_FreeProbs(&lzma2_, &kHeapAlloc);
}

SRes FolderDecoder::DecodeTo(size_t end) {
  if (error_ != SZ_OK) return error_;
  end = std::min(end, size_);
  if (!started_) {
    started_ = true;
    error_ = Start();
    if (error_ != SZ_OK) return error_;
  }
  if (coder_ == kWhole) {
    if (!finished_) {
      error_ = SzAr_DecodeFolder(&db_->db, folder_, stream_, db_->dataPos, out_, size_,
                                 &kHeapAlloc);
      if (error_ != SZ_OK) return error_;
      finished_ = true;
      decoded_ = size_;
    }
    return SZ_OK;
  }
  // The folder's last step also checks its end, as the SDK's loop does.
  while (!finished_ && (decoded_ < end || end == size_)) {
    error_ = Step(end, &finished_);
    if (error_ != SZ_OK) return error_;
  }
  return SZ_OK;
}

SRes FolderDecoder::Start() {
  const CSzAr& ar = db_->db;
  CSzData coders;
  coders.Data = ar.CodersData + ar.FoCodersOffsets[folder_];
  coders.Size = ar.FoCodersOffsets[folder_ + 1] - ar.FoCodersOffsets[folder_];
  const Byte* const props = coders.Data;
  CSzFolder folder;
  if (SzGetNextFolderItem(&folder, &coders) != SZ_OK || coders.Size != 0 ||
      folder.UnpackStream != ar.FoToMainUnpackSizeIndex[folder_] || size_ == 0 ||
      size_ != SzAr_GetFolderUnpackSize(&ar, folder_) ||
      SzBitWithVals_Check(&ar.FolderCRCs, folder_) || folder.NumCoders != 1 ||
      folder.NumPackStreams != 1 || folder.PackStreams[0] != 0 || folder.NumBonds != 0 ||
      folder.Coders[0].NumStreams != 1) {
    return SZ_OK;  // decoded whole, with the SDK's own checks and errors
  }
  const CSzCoderInfo& coder = folder.Coders[0];
  if (coder.MethodID == kCopyMethod) {
    coder_ = kCopy;
  } else if (coder.MethodID == kLzmaMethod) {
    coder_ = kLzma;
  } else if (coder.MethodID == kLzma2Method) {
    coder_ = kLzma2;
  } else {
    return SZ_OK;
  }
  const UInt64* pack = ar.PackPositions + ar.FoStartPackStreamIndex[folder_];
  in_left_ = pack[1] - pack[0];
  RINOK(LookInStream_SeekTo(stream_, db_->dataPos + pack[0]))
  switch (coder_) {
    case kCopy:
      return in_left_ == size_ ? SZ_OK : SZ_ERROR_DATA;
    case kLzma:
      RINOK(LzmaDec_AllocateProbs(&lzma_, props + coder.PropsOffset, coder.PropsSize,
                                  &kHeapAlloc))
      lzma_.dic = out_;
      lzma_.dicBufSize = size_;
      LzmaDec_Init(&lzma_);
      return SZ_OK;
    case kLzma2:
      if (coder.PropsSize != 1) return SZ_ERROR_DATA;
      RINOK(Lzma2Dec_AllocateProbs(&lzma2_, props[coder.PropsOffset], &kHeapAlloc))
      lzma2_.decoder.dic = out_;
      lzma2_.decoder.dicBufSize = size_;
      Lzma2Dec_Init(&lzma2_);
      return SZ_OK;
    case kWhole:
      break;
  }
  return SZ_OK;
}

SRes FolderDecoder::Step(size_t limit, bool* finished) {
  const void* in = nullptr;
  if (coder_ == kCopy) {
    size_t chunk = static_cast<size_t>(
        std::min<UInt64>(std::min<UInt64>(kLookahead, in_left_), limit - decoded_));
    RINOK(ILookInStream_Look(stream_, &in, &chunk))
    if (chunk == 0) return SZ_ERROR_INPUT_EOF;
    memcpy(out_ + decoded_, in, chunk);
    decoded_ += chunk;
    in_left_ -= chunk;
    *finished = in_left_ == 0;
    return ILookInStream_Skip(stream_, chunk);
  }

  size_t look = static_cast<size_t>(std::min<UInt64>(kLookahead, in_left_));
  RINOK(ILookInStream_Look(stream_, &in, &look))
  // Short of the folder's end the decoder may stop anywhere; at its end it must finish.
  const ELzmaFinishMode mode = limit == size_ ? LZMA_FINISH_END : LZMA_FINISH_ANY;
  SizeT processed = look;
  ELzmaStatus status;
  CLzmaDec& state = coder_ == kLzma2 ? lzma2_.decoder : lzma_;
  const SizeT before = state.dicPos;
  const SRes result =
      coder_ == kLzma2
          ? Lzma2Dec_DecodeToDic(&lzma2_, limit, static_cast<const Byte*>(in), &processed,
                                 mode, &status)
          : LzmaDec_DecodeToDic(&lzma_, limit, static_cast<const Byte*>(in), &processed,
                                mode, &status);
  in_left_ -= processed;
  decoded_ = state.dicPos;
  if (result != SZ_OK) return result;
  if (status == LZMA_STATUS_FINISHED_WITH_MARK) {
    if (size_ != state.dicPos || in_left_ != 0) return SZ_ERROR_DATA;
    *finished = true;
    return SZ_OK;
  }
  if (coder_ == kLzma && size_ == state.dicPos && in_left_ == 0 &&
      status == LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK) {
    *finished = true;
    return SZ_OK;
  }
  if (processed == 0 && before == state.dicPos) return SZ_ERROR_DATA;
  return ILookInStream_Skip(stream_, processed);
}

}  // namespace installer
