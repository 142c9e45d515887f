#include "NamedPort.h"

#include "NetworkName.h"

namespace pmlink {

void NamedPort::SetName(const std::string& name) {
  SerialPort* next = &m_device;
  switch (KindOfPortName(name)) {
    case PortKind::Tcp:
      next = &m_tcp;
      break;
    case PortKind::Rfc2217:
      next = &m_rfc2217;
      break;
    case PortKind::Device:
      break;
  }
  if (next != m_active) m_active->Close();
  m_active = next;
  m_active->SetName(name);
}

void NamedPort::SetBaud(int baud) {
  for (SerialPort* p : All()) p->SetBaud(baud);
}

void NamedPort::SetParity(ParityKind parity) {
  for (SerialPort* p : All()) p->SetParity(parity);
}

void NamedPort::SetStopBits(int stopBits) {
  for (SerialPort* p : All()) p->SetStopBits(stopBits);
}

}  // namespace pmlink
