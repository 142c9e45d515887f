#pragma once
// Receives every chunk the link sends or receives, for a traffic view.
// Called on the thread that runs the exchange; must not block.

#include <chrono>
#include <cstdint>
#include <span>

namespace pmlink {

enum class Direction { Tx, Rx };

class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  virtual void OnBytes(std::chrono::steady_clock::time_point when, Direction dir,
                       std::span<const std::uint8_t> bytes) = 0;
  // The result code an exchange ended with (the codes of Request).
  virtual void OnResult(std::chrono::steady_clock::time_point when, int deviceIndex, int function,
                        int result) = 0;
};

}  // namespace pmlink
