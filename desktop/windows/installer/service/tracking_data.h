// Tracking data carried in the installer's payload: Base64 text of a JSON dictionary,
// possibly with other bytes around the dictionary.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRACKING_DATA_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRACKING_DATA_H_

#include <memory>

#include "base/strings/string_piece.h"
#include "base/values.h"

namespace installer {

// The dictionary encoded in |text|, or null when the text is not Base64, holds no
// braces, does not parse, or its root is not a dictionary. Trailing white space is
// ignored; leading white space fails the decoding.
std::unique_ptr<base::Dictionary> DecodeBase64JsonDictionary(base::StringPiece text);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRACKING_DATA_H_
