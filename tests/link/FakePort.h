#pragma once
// A scripted serial port: records every byte written, answers each Read from
// a queue of chunks, and simulates time-outs without waiting. A Read takes
// the next chunk (at most n bytes of it; the rest stays for the next Read);
// an empty chunk or an empty queue is a time-out returning 0.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "Crc16.h"
#include "SerialPort.h"

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

// The frame with its CRC appended, low byte first.
inline Bytes WithCrc(Bytes b) {
  const std::uint16_t crc = pmlink::Crc16(b.size(), b.data());
  b.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  b.push_back(static_cast<std::uint8_t>(crc >> 8));
  return b;
}

class FakePort : public pmlink::SerialPort {
 public:
  void SetName(const std::string& n) override { name = n; }
  void SetBaud(int b) override { baud = b; }
  void SetParity(pmlink::ParityKind p) override { parity = p; }
  void SetStopBits(int s) override { stopBits = s; }

  void Open() override {
    ++opens;
    if (openErrno != 0) throw pmlink::SerialPortError("cannot open " + name, openErrno);
    open = true;
  }
  void Close() override {
    ++closes;
    open = false;
  }
  bool IsOpen() const override { return open; }
  void Purge() override {
    ++purges;
    if (purgeErrno != 0) throw pmlink::SerialPortError("purge failed", purgeErrno);
  }
  int Read(std::uint8_t* buf, int n) override {
    reads.push_back(n);
    if (replies.empty()) return 0;
    Bytes& chunk = replies.front();
    const int k = std::min<int>(n, static_cast<int>(chunk.size()));
    std::copy(chunk.begin(), chunk.begin() + k, buf);
    chunk.erase(chunk.begin(), chunk.begin() + k);
    if (chunk.empty()) replies.pop_front();
    return k;
  }
  int Write(const std::uint8_t* buf, int n) override {
    writes.emplace_back(buf, buf + n);
    return n;
  }

  // Queues a reply to be read, as one chunk (an empty one is a time-out).
  void Reply(Bytes chunk) { replies.push_back(std::move(chunk)); }
  // Queues a time-out: the next Read returns 0.
  void Silence() { replies.push_back({}); }

  std::string name;
  int baud = 0;
  pmlink::ParityKind parity = pmlink::ParityKind::None;
  int stopBits = 0;
  bool open = false;
  int openErrno = 0;
  int purgeErrno = 0;

  int opens = 0;
  int closes = 0;
  int purges = 0;
  std::vector<Bytes> writes;
  std::vector<int> reads;  // n asked for by each Read
  std::deque<Bytes> replies;
};

}  // namespace linktest
