// prefrobnicate.h - reduce a written address to the bare address.
//   prefrobnicate(text)  drops comments, white space and any display name,
//                        keeps quoted strings and backslash pairs as written;
//                        result in a static buffer overwritten by the next
//                        call, or prefrobnicate_refused after writing
//                        "prefrobnicate: line too long \"%s\"\n" when the
//                        result would exceed 1023 bytes
//   prefrobnicate_view(text, length)  the same address with its length, for
//                        callers that measure it; it may point into `text`
//                        itself (nothing to drop), else into the static
//                        buffer. text[0] to text[length] must be readable;
//                        a NUL still ends the text wherever it lies
//   prefrobnicate_refused  the constant "" of a refusal, told apart from an
//                        empty address by its pointer
// No allocation; the input is never written.
#pragma once

#include <cstddef>
#include <string_view>

extern const char prefrobnicate_refused[];

const char* prefrobnicate(const char* text);
std::string_view prefrobnicate_view(const char* text, std::size_t length);
