#include "desktop/windows/installer/service/tracking_data.h"

#include <string>
#include <utility>

#include "base/base64.h"
#include "base/json/json_reader.h"
#include "base/strings/string_util.h"

namespace installer {

std::unique_ptr<base::Dictionary> DecodeBase64JsonDictionary(base::StringPiece text) {
  // Payload writers pad with line breaks; only the end is forgiven.
  const size_t last = text.find_last_not_of(base::kWhitespaceASCII);
  text = last == base::StringPiece::npos ? base::StringPiece() : text.substr(0, last + 1);

  std::string decoded;
  if (!base::Base64Decode(text, &decoded) || decoded.empty())
    return nullptr;

  // The dictionary may be wrapped in other bytes.
  const size_t first_brace = decoded.find('{');
  const size_t last_brace = decoded.rfind('}');
  if (first_brace == std::string::npos || last_brace == std::string::npos ||
      last_brace < first_brace) {
    return nullptr;
  }
  base::StringPiece json(decoded.data() + first_brace, last_brace - first_brace + 1);
  return base::Dictionary::From(base::JsonReader::Read(json));
}

}  // namespace installer
