// prefrobnicate_fuzzer - the address canonicalizer on arbitrary bytes.
// The input, NUL-terminated, is one written address (a list line or a From
// value). Whatever it holds, the result is either the refusal, which only an
// input of 1024 bytes or more may draw, or a text of at most 1023 bytes that
// is never longer than the input and is made of the input's bytes, in order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "recipients/prefrobnicate.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quiet_program_messages();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const std::vector<char> before = text;
  const std::size_t input_length = std::strlen(text.data());

  const char* result = prefrobnicate(text.data());
  check(text == before, "the input was written");
  if (result == prefrobnicate_refused) {
    check(input_length >= 1024, "refused an input of at most 1023 bytes");
    return 0;
  }
  const std::size_t length = std::strlen(result);
  check(length <= 1023, "result longer than 1023 bytes");
  check(length <= input_length, "result longer than the input");
  // Each result byte is matched to the earliest input byte still free.
  std::size_t at = 0;
  for (std::size_t i = 0; i < length; ++at) {
    check(at < input_length, "result is not the input's bytes in order");
    if (text[at] == result[i]) ++i;
  }
  return 0;
}
