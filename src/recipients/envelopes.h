// envelopes.h - send the message to the whole table in bounded envelopes.
//   deliver_in_envelopes()  sort by domain key, cut into envelopes of at most
//                           max_rcpts recipients and max_domains domains, one
//                           submission each; nothing at all for an empty table
#pragma once

void deliver_in_envelopes();
