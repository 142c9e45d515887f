#include "LinePoll.h"

#include <chrono>

#include "Poll.h"

namespace pmline {

Clocks Now() {
  using namespace std::chrono;
  return {duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count(), pmtrend::NowMillis()};
}

std::string FailureText(const TComPortClass& link, int deviceIndex, int result) {
  if (result == rc::NoReply) return "нет ответа";
  std::string text = link.ErrorText(deviceIndex, result);
  const std::string device = "устройство " + std::to_string(deviceIndex + 1) + " " + link.Port + " ";
  if (text.rfind(device, 0) == 0) text.erase(0, device.size());
  if (const auto eol = text.find('\n'); eol != std::string::npos) text.erase(eol);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::optional<pmtrend::ReadOutcome> PollNext(LinePoller& poller, TComPortClass& link, const std::function<Clocks()>& clock,
                                            long cycleLimit) {
  const std::optional<Step> step = poller.Next(clock().steadyMs, cycleLimit);
  if (!step) return std::nullopt;
  return PollStep(poller, *step, link, clock);
}

std::optional<pmtrend::ReadOutcome> PollStep(LinePoller& poller, const Step& step, TComPortClass& link,
                              const std::function<Clocks()>& clock) {
  const int index = poller.Instruments()[step.index].address - 1;
  const pmops::ReadOutcome read = pmops::Poll(link, poller.Record(step), index, step.attempts);
  if (read.result == rc::Stopped) return std::nullopt;
  return poller.Take(step, read, link.Port, clock().wallMs,
                     read.result == rc::Ok ? std::string() : FailureText(link, index, read.result));
}

}  // namespace pmline
