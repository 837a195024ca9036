#include "parameters/codec.h"

#include "parameters/base64.h"

namespace modTavrin {

std::u16string EncodeText(std::u16string_view text) { return base64::Base64Encode(text); }
std::u16string DecodeText(std::u16string_view text) { return base64::Base64Decode(text); }

}  // namespace modTavrin
