// What a gateway sends on an RFC 2217 line, taken apart as the network port
// takes it, in the pieces the connection delivers: the line's data never
// exceed the bytes received, the answers are whole option commands, never
// more than the option commands received, and each option on each side is
// answered at most kAnswersMax times, so no far end can keep an exchange of
// options going.
//
// Input: a byte saying whether this end made its requests first, then the
// connection's bytes as chunks: a length byte and that many bytes.

#include <array>
#include <cstdint>
#include <vector>

#include "FuzzInput.h"
#include "TelnetReceiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using T = pmlink::TelnetReceiver;
  pmfuzz::Input in(data, size);
  T telnet;
  telnet.Reset();
  if (in.Byte() & 1) PM_FUZZ_CHECK(telnet.Offer().size() == 9);

  std::size_t received = 0, answered = 0, dataBytes = 0;
  std::array<std::array<int, 256>, 2> perOption{};  // [our side][option]
  while (!in.Empty()) {
    const std::vector<std::uint8_t> chunk = in.Bytes(in.Byte());
    const T::Received r = telnet.Receive(chunk);
    received += chunk.size();
    dataBytes += r.data.size();
    answered += r.answers.size();
    PM_FUZZ_CHECK(dataBytes <= received);
    PM_FUZZ_CHECK(answered <= received);
    PM_FUZZ_CHECK(r.answers.size() % 3 == 0);
    for (std::size_t i = 0; i < r.answers.size(); i += 3) {
      PM_FUZZ_CHECK(r.answers[i] == T::kIac);
      const std::uint8_t verb = r.answers[i + 1];
      PM_FUZZ_CHECK(verb >= T::kWill && verb <= T::kDont);
      const bool ours = verb == T::kWill || verb == T::kWont;
      PM_FUZZ_CHECK(++perOption[ours][r.answers[i + 2]] <= T::kAnswersMax);
    }
    for (int command = 1; command <= 5; ++command) PM_FUZZ_CHECK(telnet.Answer(command).size() <= T::kSubMax);
  }
  return 0;
}
