#pragma once
// Frames of a link that runs on another thread, handed to the window's
// thread and given there to whatever observer the window's link has then
// (the traffic view, while it is shown). The bytes are copied; the order
// is kept, as queued calls to one object keep it.

#include <QObject>
#include <chrono>
#include <functional>
#include <vector>

#include "FrameObserver.h"

class QueuedFrames : public pmlink::FrameObserver {
 public:
  using Target = std::function<pmlink::FrameObserver*()>;
  QueuedFrames(QObject& context, Target target) : m_context(context), m_target(std::move(target)) {}

  void OnBytes(std::chrono::steady_clock::time_point when, pmlink::Direction dir,
               std::span<const std::uint8_t> bytes) override {
    QMetaObject::invokeMethod(
        &m_context,
        [target = m_target, when, dir, copy = std::vector<std::uint8_t>(bytes.begin(), bytes.end())] {
          if (pmlink::FrameObserver* t = target()) t->OnBytes(when, dir, copy);
        },
        Qt::QueuedConnection);
  }
  void OnResult(std::chrono::steady_clock::time_point when, int deviceIndex, int function, int result) override {
    QMetaObject::invokeMethod(
        &m_context,
        [target = m_target, when, deviceIndex, function, result] {
          if (pmlink::FrameObserver* t = target()) t->OnResult(when, deviceIndex, function, result);
        },
        Qt::QueuedConnection);
  }

 private:
  QObject& m_context;
  Target m_target;
};
