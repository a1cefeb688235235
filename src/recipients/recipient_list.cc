// XXX Placeholder until the recipient list lands: reads nothing.
#include "recipients/recipient_list.h"

bool author_is_subscriber = false;

void load_recipients() {}
