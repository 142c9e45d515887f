// The operations over the scripted port: what a refused block leaves behind,
// and how many requests a probe of a backed-off instrument costs.

#include <gtest/gtest.h>

#include "FakePort.h"
#include "Poll.h"
#include "Read.h"
#include "ScriptedMessageService.h"

namespace {

using linktest::Bytes;
using linktest::WithCrc;

TEST(ReadOperation, BlockCountAboveFortyLeavesTheEditedImage) {
  linktest::FakePort port;
  ui::ScriptedMessageService messages;
  TComPortClass link(port, messages, [] {});
  link.SetDelayFunction([](int) {});
  port.open = true;

  TProgPMClass pm;
  pm.DevType = 100;
  pm.Version = 5;
  pm.SetLen(16);
  pm.SetUstKod1(1234);
  pm.Changed = 1;
  const auto before = pm.Image;

  port.Reply(WithCrc({0x01, 17, 3, 5, 0x20, 100}));
  Bytes block = {0x01, 68, 41};
  block.resize(3 + 41, 0x55);
  port.Reply(WithCrc(block));
  TServClass serv;
  const pmops::ReadOutcome out = pmops::Read(link, pm, serv);

  EXPECT_EQ(out.stop, pmops::ReadStop::BlockTooLong);
  EXPECT_EQ(out.blockCount, 41);
  EXPECT_EQ(pm.Image, before);
  EXPECT_EQ(pm.Changed, 1);
  EXPECT_EQ(pm.DataRead, 0);
  EXPECT_EQ(port.writes.size(), 2u);  // nothing after the refused block
}

// A probe of a backed-off instrument is one request per attempt asked for,
// whatever the reply: damaged and cut-short replies end it like silence.
TEST(PollOperation, AProbeIsOneRequestWhateverTheReply) {
  const Bytes ident = WithCrc({0x01, 17, 3, 5, 0x20, 100});
  Bytes badCrc = ident;
  badCrc.back() ^= 0x01;
  const std::vector<std::vector<Bytes>> replies = {{}, {badCrc}, {Bytes(ident.begin(), ident.begin() + 3), {}}};
  for (const auto& script : replies) {
    linktest::FakePort port;
    port.open = true;
    ui::ScriptedMessageService messages;
    TComPortClass link(port, messages, [] {});
    link.SetDelayFunction([](int) {});
    for (const Bytes& chunk : script) port.Reply(chunk);
    TProgPMClass pm;
    const pmops::ReadOutcome out = pmops::Poll(link, pm, 0, 1);
    EXPECT_EQ(out.stop, pmops::ReadStop::Identify);
    EXPECT_EQ(port.writes.size(), 1u) << script.size();
    EXPECT_EQ(link.Retries1, 5) << "the link's own counts come back";
    EXPECT_EQ(link.Retries2, 10);
  }
}

}  // namespace
