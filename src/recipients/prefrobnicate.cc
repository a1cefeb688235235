// XXX Placeholder until the canonicalizer lands: returns its input.
#include "recipients/prefrobnicate.h"

const char* prefrobnicate(const char* text) { return text; }
