#pragma once
// Port names that reach a serial line over the network: "tcp://HOST:PORT"
// (a transparent TCP connection to a serial-to-Ethernet gateway or ser2net
// in raw mode) and "rfc2217://HOST:PORT" (the Telnet COM port control
// option, which also sets speed, parity and stop bits on the far port).
// HOST is a name, an IPv4 address or an IPv6 address in brackets.

#include <optional>
#include <string>

namespace pmlink {

enum class PortKind { Device, Tcp, Rfc2217 };

struct NetworkName {
  PortKind kind = PortKind::Tcp;
  std::string host;  // without the brackets of an IPv6 address
  std::string service;  // the port number as typed, 1..65535
};

// Tcp or Rfc2217 by the scheme (in any letter case), else Device.
PortKind KindOfPortName(const std::string& name);
// The parts of a network port name; nothing when it is not one or does not
// name a valid host and port.
std::optional<NetworkName> ParseNetworkName(const std::string& name);

}  // namespace pmlink
