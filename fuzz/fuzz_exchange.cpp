// The exchange fed with arbitrary reply bytes through a scripted port, for
// every function the program sends, into the 100-byte reply buffer its
// callers use.
//
// Input: function selector, device index, retry counts, where the port fails
// (the purge, or the n-th read or write, as an unplugged adapter does), the
// request data where the program's data vary, then the bytes on the line as
// chunks: a length byte and that many bytes; length 0 is a read that times
// out.

#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "Comportclass.h"
#include "FakePort.h"
#include "FuzzInput.h"
#include "ScriptedMessageService.h"

namespace {

constexpr int kFunctions[] = {17, 68, 71, 4, 5, 6, 69, 14};
constexpr std::size_t kReplyBuffer = 100;
constexpr const char* kDisconnected =
    "COM-порт отключен. Проверьте оборудование, перезапустите программу.";

class FuzzPort : public linktest::FakePort {
 public:
  int failAt = 0;  // 1-based count of reads and writes; 0: never

  int Read(std::uint8_t* buf, int n) override {
    Step();
    return FakePort::Read(buf, n);
  }
  int Write(const std::uint8_t* buf, int n) override {
    Step();
    return FakePort::Write(buf, n);
  }

 private:
  int m_calls = 0;
  void Step() {
    if (++m_calls == failAt) {
      open = false;
      throw pmlink::SerialPortError("unplugged", EIO);
    }
  }
};

struct Observer : pmlink::FrameObserver {
  std::vector<std::uint8_t> frame;  // what the link asked to send
  std::size_t txChunks = 0;
  std::size_t rxBytes = 0;
  int results = 0;
  int lastResult = -1;

  void OnBytes(std::chrono::steady_clock::time_point, pmlink::Direction dir,
               std::span<const std::uint8_t> bytes) override {
    if (dir == pmlink::Direction::Tx) {
      ++txChunks;
      if (frame.empty()) frame.assign(bytes.begin(), bytes.end());
      // A resend is the same frame.
      PM_FUZZ_CHECK(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == frame);
    } else {
      PM_FUZZ_CHECK(!bytes.empty());
      rxBytes += bytes.size();
    }
  }
  void OnResult(std::chrono::steady_clock::time_point, int, int, int result) override {
    ++results;
    lastResult = result;
  }
};

bool CrcHolds(const std::uint8_t* frame, int length) {
  if (length < 2) return false;
  const std::uint16_t crc = TComPortClass::Crc16(length - 2, frame);
  return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pmfuzz::Input in(data, size);
  const int function = kFunctions[in.Byte() % std::size(kFunctions)];
  const int device = in.Byte() % 32;
  const std::uint8_t retries = in.Byte();
  const std::uint8_t failure = in.Byte();

  FuzzPort port;
  port.open = true;
  port.failAt = failure & 0x3F;
  if (failure & 0x80) port.purgeErrno = EIO;
  ui::ScriptedMessageService messages;
  int closeRequests = 0;
  TComPortClass link(port, messages, [&] { ++closeRequests; });
  link.SetDelayFunction([](int) {});
  Observer observer;
  link.SetFrameObserver(&observer);
  link.Retries1 = 1 + retries % 6;
  link.Retries2 = 1 + retries / 6 % 12;

  // The request data as the program builds them; where they vary (a mode or
  // register value, the parameter block), from the input.
  std::vector<std::uint8_t> request;
  switch (function) {
    case 71: request = {0x00, 0x01}; break;
    case 4: request = {0x00, 0x00, 0x00, 0x04}; break;
    case 5:
    case 6:
      request = in.Bytes(4);
      request.resize(4);
      break;
    case 69: request = in.Bytes(in.Byte() % 41); break;
    default: break;
  }

  std::size_t lineBytes = 0;
  while (!in.Empty()) {
    auto chunk = in.Bytes(in.Byte());
    lineBytes += chunk.size();
    port.Reply(std::move(chunk));
  }

  auto reply = std::make_unique<std::uint8_t[]>(kReplyBuffer);
  int result = -1;
  try {
    result = link.Request(device, function, static_cast<int>(request.size()), request.data(),
                          reply.get(), kReplyBuffer);
  } catch (const pmlink::SerialPortError&) {
    // Read and write failures go to the caller; only the port raises them.
    PM_FUZZ_CHECK(port.failAt != 0);
    PM_FUZZ_CHECK(observer.results == 0);
    return 0;
  }

  // A purge failure is reported once and asks the window to close; nothing
  // else shows a box.
  if (port.purgeErrno != 0) {
    PM_FUZZ_CHECK(messages.shown.size() == 1 && messages.shown[0].text == kDisconnected);
    PM_FUZZ_CHECK(closeRequests == 1);
  } else {
    PM_FUZZ_CHECK(messages.shown.empty() && closeRequests == 0);
  }

  // The frame: address, function, data, CRC; the same frame on every attempt.
  const int frameLen = static_cast<int>(request.size()) + 4;
  PM_FUZZ_CHECK(static_cast<int>(observer.frame.size()) == frameLen);
  PM_FUZZ_CHECK(observer.frame[0] == device + 1 && observer.frame[1] == function);
  PM_FUZZ_CHECK(CrcHolds(observer.frame.data(), frameLen));
  PM_FUZZ_CHECK(port.writes.size() == observer.txChunks);
  // Every good header reloads the stage-1 count, so attempts are bounded by
  // both counts together.
  PM_FUZZ_CHECK(observer.txChunks >= 1);
  PM_FUZZ_CHECK(observer.txChunks <=
                static_cast<std::size_t>(link.Retries1) * static_cast<std::size_t>(link.Retries2 + 1));
  PM_FUZZ_CHECK(observer.rxBytes <= lineBytes);
  PM_FUZZ_CHECK(observer.results == 1 && observer.lastResult == result);

  if (function == 69) {
    PM_FUZZ_CHECK(result == rc::Ok && port.writes.size() == 1 && port.reads.empty());
  } else if (result == rc::Ok) {
    PM_FUZZ_CHECK(link.ReplyLen >= 4 && link.ReplyLen <= static_cast<int>(kReplyBuffer));
    PM_FUZZ_CHECK(CrcHolds(reply.get(), link.ReplyLen));
    PM_FUZZ_CHECK(reply[1] == function || (reply[1] == (function | 0x80) && reply[2] == 0));
  } else if (result < 128) {
    // An instrument's exception code, returned as it came.
    PM_FUZZ_CHECK(reply[1] == (function | 0x80) && reply[2] == result && link.ReplyLen == 5);
  } else {
    const bool known = result == rc::ReceiveError || result == rc::Incomplete ||
                       result == rc::NoReply || result == rc::CrcError || result == rc::Echo ||
                       (result < 256 && reply[1] == (function | 0x80) && reply[2] == result);
    PM_FUZZ_CHECK(known);
  }

  if (result != rc::Ok) {
    const std::size_t before = messages.shown.size();
    PM_FUZZ_CHECK(!link.ErrorText(device, result).empty());
    link.ReportError(device, result);
    PM_FUZZ_CHECK(messages.shown.size() == before + 1);
  }
  return 0;
}
