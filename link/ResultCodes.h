#pragma once
// Result codes of an exchange (instrument exception codes share this space).

namespace rc {
constexpr int Ok = 0;
constexpr int BadFunction = 1;
constexpr int Busy = 6;              // instrument writing its parameters
constexpr int ReceiveError = 128;    // reply longer than the buffer, foreign function code
constexpr int Incomplete = 129;
constexpr int NoReply = 130;
constexpr int CrcError = 131;
constexpr int CannotOpen = 132;
constexpr int NotConfigured = 133;
constexpr int SwitchedOff = 134;
constexpr int SettingError = 135;
constexpr int Echo = 136;            // our own request came back (RS-485 adapter echo)
constexpr int PortClosed = 256;
// The exchange was given up on the caller's word (a stop, or the line
// handed to another user) before it had its own end. Never reported to the
// operator: whoever stopped it knows why.
constexpr int Stopped = 257;
}  // namespace rc
