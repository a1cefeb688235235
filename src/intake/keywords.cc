#include "intake/keywords.h"

namespace {

unsigned char lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

unsigned char upper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// skip_keyword - the text just after keyword when text begins with it,
// case-blind, else nullptr; a NUL of text never equals a keyword byte.
const char* skip_keyword(const char* text, const char* keyword) {
  auto* t = reinterpret_cast<const unsigned char*>(text);
  auto* k = reinterpret_cast<const unsigned char*>(keyword);
  for (; *k; ++t, ++k)
    if (lower(*t) != lower(*k)) return nullptr;
  return reinterpret_cast<const char*>(t);
}

}  // namespace

bool field_name_is(const char* name, const char* line) {
  const char* p = skip_keyword(line, name);
  if (!p) return false;
  while (*p == '\t' || *p == '\n' || *p == '\r' || *p == ' ') ++p;
  return *p == ':';
}

bool has_prefix(const char* text, const char* keyword) {
  return skip_keyword(text, keyword) != nullptr;
}

bool leading_word_is(const char* text, const char* keyword) {
  while (*text == ' ' || *text == '\t') ++text;
  const char* p = skip_keyword(text, keyword);
  return p && (*p == '\t' || *p == '\n' || *p == ' ');
}

bool contains_word(const char* text, const char* keyword) {
  // Only positions that hold the keyword's first letter, in either case, are
  // compared in full, so a long line costs one pass.
  const unsigned char first = static_cast<unsigned char>(*keyword);
  const unsigned char first_lower = lower(first);
  const unsigned char first_upper = upper(first);
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c != first_lower && c != first_upper) continue;
    if (p != text && p[-1] != ' ' && p[-1] != '\t') continue;
    const char* after = skip_keyword(p, keyword);
    if (after && (*after == '\t' || *after == '\n' || *after == '\0' || *after == ' '))
      return true;
  }
  return false;
}
