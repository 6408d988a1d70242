#pragma once
// UTF-8 as file names need it judged (the bytes of a name either are UTF-8
// or are not, with no lenient decoding in between), and written from code points.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The length of the UTF-8 sequence that starts at `at`, or 0 when none does
// there: a stray or missing continuation byte, an overlong form, a surrogate
// or a code point past U+10FFFF.
int utf8SequenceLength(std::string_view bytes, std::size_t at);
// True when all of `bytes` is UTF-8.
bool isUtf8(std::string_view bytes);
// Appends the UTF-8 form of the code point `c`.
void appendUtf8(std::string& out, char32_t c);

} // namespace platform
