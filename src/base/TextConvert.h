#pragma once

#include <string>
#include <string_view>

namespace kds {

// UTF-8 to UTF-16 code units. A malformed or truncated sequence becomes
// U+FFFD, one per offending byte, so the result never carries half a character.
std::u16string Utf8ToUtf16(std::string_view Text);

// UTF-16 code units to UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view Text);

} // namespace kds
