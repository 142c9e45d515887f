#include "NetworkName.h"

#include <algorithm>
#include <cctype>

namespace pmlink {

namespace {

constexpr const char* kTcp = "tcp://";
constexpr const char* kRfc2217 = "rfc2217://";

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

bool IsHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

}  // namespace

PortKind KindOfPortName(const std::string& name) {
  if (StartsWithNoCase(name, kTcp)) return PortKind::Tcp;
  if (StartsWithNoCase(name, kRfc2217)) return PortKind::Rfc2217;
  return PortKind::Device;
}

std::optional<NetworkName> ParseNetworkName(const std::string& name) {
  const PortKind kind = KindOfPortName(name);
  if (kind == PortKind::Device) return std::nullopt;
  const std::string rest =
      name.substr(std::string(kind == PortKind::Tcp ? kTcp : kRfc2217).size());

  const std::size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = rest.substr(0, colon);
  const std::string service = rest.substr(colon + 1);

  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    const bool ipv6 = std::all_of(host.begin(), host.end(), [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
    });
    if (!ipv6) return std::nullopt;
  } else if (host.empty() || host.size() > 253 || !std::all_of(host.begin(), host.end(), IsHostChar)) {
    return std::nullopt;
  }

  if (service.empty() || service.size() > 5 ||
      !std::all_of(service.begin(), service.end(),
                   [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int port = std::stoi(service);
  if (port < 1 || port > 65535) return std::nullopt;
  return NetworkName{kind, host, std::to_string(port)};
}

}  // namespace pmlink
