#pragma once
// What the pseudo-terminal and TCP servers share: how long their loop may
// wait for input, and writing a reply as an instrument sends it.

#include <atomic>

#include "Line.h"

namespace sim {

// At most 20 ms (so that a stop is noticed), less when the line has a timed
// event sooner.
int PollTimeoutMs(Line& line);

// Writes the reply to a non-blocking descriptor after its delay, with its
// gaps between bytes. Gives up when stop is set or nobody reads for 2 s;
// false when the descriptor failed.
bool SendReply(int fd, const Reply& reply, const std::atomic<bool>& stop);

}  // namespace sim
