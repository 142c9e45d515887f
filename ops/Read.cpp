#include "Read.h"

#include <cstdint>
#include <span>

#include "Identify.h"
#include "Scaling.h"
#include "Switches.h"

namespace pmops {

std::string BlockTooLongText(int deviceNumber, int count) {
  return "устройство " + std::to_string(deviceNumber) + " - блок параметров длиной " +
         std::to_string(count) + " байт, больше 40\nДанные не считаны";
}

ReadOutcome ReadIdentityBlockMeasurement(TComPortClass& link, TProgPMClass& pm, int& deviceIndex) {
  ReadOutcome out;
  pm.DataRead = 0;

  const Identified who = Identify(link, deviceIndex);
  if (who.result != rc::Ok) {
    out.result = who.result;
    return out;
  }
  out.identity = who.identity;
  if (who.identity.model != pm.DevType || who.identity.version != pm.Version) {
    pm.LayoutDone = 0;
    out.identityChanged = true;
  }
  pm.DevType = who.identity.model;
  pm.Version = who.identity.version;

  std::uint8_t data[4] = {};
  std::uint8_t reply[100] = {};
  out.result = link.Request(deviceIndex, 68, 0, data, reply, sizeof reply);
  if (out.result != rc::Ok) {
    out.stop = ReadStop::Block;
    return out;
  }
  out.blockCount = reply[2];
  if (out.blockCount > static_cast<int>(TProgPMClass::MaxBlockLen)) {
    out.stop = ReadStop::BlockTooLong;
    return out;
  }
  pm.ClearImage();
  pm.TakeBlockReply(reply, who.identity.correction);
  if (pm.GetNu() < 32) deviceIndex = pm.GetNu();

  std::fill(std::begin(reply), std::end(reply), 0);
  data[0] = 0x00;
  data[1] = 0x01;
  out.result = link.Request(deviceIndex, 71, 2, data, reply, sizeof reply);
  if (out.result != rc::Ok) {
    out.stop = ReadStop::Measure;
    return out;
  }
  pm.TakeMeasReply(reply);

  switch (pmdev::ClassifyModel(who.identity.model)) {
    case pmdev::ModelClass::Undetermined: out.stop = ReadStop::Undetermined; return out;
    case pmdev::ModelClass::Foreign: out.stop = ReadStop::Foreign; return out;
    default: break;
  }
  out.stop = ReadStop::Complete;
  out.result = rc::Ok;
  return out;
}

ReadOutcome Read(TComPortClass& link, TProgPMClass& pm, TServClass& serv) {
  int index = serv.DeviceIndex;
  ReadOutcome out = ReadIdentityBlockMeasurement(link, pm, index);
  if (out.stop != ReadStop::Identify && pm.GetNu() < 32 && out.stop != ReadStop::Block &&
      out.stop != ReadStop::BlockTooLong) {
    serv.DeviceIndex = index;
    serv.NewDeviceIndex = index;
  }
  if (!out.Complete()) return out;

  const int model = out.identity.model, version = out.identity.version;
  if (model == pmdev::kModelLunt && pm.LayoutDone == 0) {
    out.outputControlSent = true;
    out.outputControlResult = SetOutputControl(link, serv.DeviceIndex, false);
  }
  if ((model == pmdev::kModelZetTS || model == pmdev::kModelZetTP) && version == 6) {
    out.sensorSent = true;
    std::uint8_t reply[100] = {};
    const std::uint8_t regs[4] = {0x00, 0x00, 0x00, 0x04};
    out.sensorResult = link.Request(serv.DeviceIndex, 4, 4, regs, reply, sizeof reply);
    if (out.sensorResult == rc::Ok)
      out.sensorValue = pmdev::BigEndianFloat(std::span<const std::uint8_t>(reply + 7, 4));
  }

  pm.DataRead = 1;
  pm.Changed = 0;
  pm.TipDChanged = 0;
  return out;
}

}  // namespace pmops
