#include "Write.h"

#include <cstdint>

#include "Identify.h"

namespace pmops {

namespace {
constexpr int kBeforeBlockMs = 50;
constexpr int kStoreMs = 1000;
}  // namespace

std::string RefusalText(WriteStop stop) {
  if (stop == WriteStop::OtherModel)
    return "Не совпадает тип прибора \nпри попытке сохранить базу.\nСохранение отменено";
  if (stop == WriteStop::OtherVersion)
    return "Не совпадает версия прибора \nпри попытке сохранить базу.\nСохранение отменено";
  return {};
}

bool HasBlock(const TProgPMClass& pm) { return pm.DataRead != 0 && pm.BlockLoaded; }

WriteOutcome Write(TComPortClass& link, TProgPMClass& pm, TServClass& serv,
                   const std::function<void(WriteStep)>& step) {
  WriteOutcome out;
  if (!HasBlock(pm)) return out;

  const Identified who = Identify(link, serv.DeviceIndex);
  if (who.result != rc::Ok) {
    out.stop = WriteStop::Identify;
    out.result = who.result;
    return out;
  }
  if (who.identity.model != pm.DevType) {
    out.stop = WriteStop::OtherModel;
    return out;
  }
  if (who.identity.version != pm.Version) {
    out.stop = WriteStop::OtherVersion;
    return out;
  }

  link.Delay(kBeforeBlockMs);
  std::uint8_t data[40] = {};
  const int length = static_cast<int>(pm.StoreBlock(data));
  if (step) step(WriteStep::BlockReady);
  out.sent.assign(data, data + length);

  std::uint8_t reply[100] = {};
  out.result = link.Request(serv.DeviceIndex, 69, length, data, reply, sizeof reply);
  if (out.result != rc::Ok) {
    out.stop = WriteStop::Block;
    return out;
  }
  serv.DeviceIndex = serv.NewDeviceIndex;
  if (step) step(WriteStep::BlockSent);

  link.Delay(kStoreMs);
  std::fill(std::begin(reply), std::end(reply), 0);
  out.result = link.Request(serv.DeviceIndex, 14, 0, data, reply, sizeof reply);
  if (out.result != rc::Ok) {
    out.stop = WriteStop::Confirm;
    return out;
  }
  out.stop = WriteStop::Written;
  pm.Changed = 0;
  pm.TipDChanged = 0;
  return out;
}

}  // namespace pmops
