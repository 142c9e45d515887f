#pragma once
// Helpers shared by the fuzz targets: a reader that takes bytes from the
// front of the input (zeros once it runs out) and a check that aborts with
// the failed condition, so that libFuzzer keeps the input as a crash.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#define PM_FUZZ_CHECK(cond)                                                       \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

namespace pmfuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  std::size_t Left() const { return m_size - m_pos; }
  bool Empty() const { return m_pos >= m_size; }

  std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

  // Up to n bytes, fewer at the end of the input; a vector of exactly that
  // many so that reading past it is outside the allocation.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    const std::size_t k = n < Left() ? n : Left();
    std::vector<std::uint8_t> out(m_data + m_pos, m_data + m_pos + k);
    m_pos += k;
    return out;
  }
  std::vector<std::uint8_t> Rest() { return Bytes(Left()); }

  // Raw bit patterns, so NaN, infinities and subnormals come up too.
  float Float() {
    std::uint8_t b[4] = {Byte(), Byte(), Byte(), Byte()};
    float f;
    std::memcpy(&f, b, sizeof f);
    return f;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

}  // namespace pmfuzz
