#pragma once
// The addresses of a gateway, found within the time its connection is
// promised in. The system's resolver has time-outs of its own (5 s per name
// server and try by default), far beyond that time; a name lookup that has
// not ended by the deadline is left to finish on its own thread, which then
// discards what it found. An address written in digits is converted at once
// and is never refused for want of a configured address of its family, so
// "[::1]" works on a host without IPv6 outside the loopback.

#include <netdb.h>

#include <chrono>
#include <memory>
#include <string>

namespace pmlink {

struct AddressLookup {
  // getaddrinfo's code (0: found); with EAI_SYSTEM, err is the errno.
  int rc = 0;
  int err = 0;
  // The deadline passed before the resolver answered.
  bool timedOut = false;
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> found{nullptr, ::freeaddrinfo};
};

// The TCP addresses of host:service (service is a port number).
AddressLookup LookUpAddresses(const std::string& host, const std::string& service,
                              std::chrono::steady_clock::time_point deadline);

}  // namespace pmlink
