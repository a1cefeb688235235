// keywords.h - case-blind keyword tests on NUL-terminated header text.
//   field_name_is(name, line)  line starts with name, then [TAB LF CR SP]*
//                              and a colon
//   has_prefix(text, kw)       text starts with kw; nothing after is tested
//   leading_word_is(text, kw)  first word after any SP and TAB is kw, and
//                              TAB, LF or SP follows it (not NUL, not CR)
//   contains_word(text, kw)    kw stands at the start of text or after SP or
//                              TAB, and TAB, LF, NUL or SP follows it
// Pure: no state, no allocation; ASCII case folding only (the locale is never
// consulted). The keyword is never empty; a text that ends early fails at its
// NUL. Note that field_name_is takes the name first, the others take it last.
#pragma once

bool field_name_is(const char* name, const char* line);
bool has_prefix(const char* text, const char* keyword);
bool leading_word_is(const char* text, const char* keyword);
bool contains_word(const char* text, const char* keyword);
