#pragma once
// One row of a standard range table: start and end of the scale in °C.
// The row number is the range number stored in the instrument.

namespace pmdev {

struct RangeRow {
  float start;
  float end;
};

}  // namespace pmdev
