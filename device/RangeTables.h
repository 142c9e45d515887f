#pragma once
// Standard range tables T1..T8. A row is (start degC, end degC); the row
// number is the range number RangeNo stored in the instrument, so the order
// of the rows is part of the protocol and must never be sorted.

#include <span>

#include "RangeRow.h"

namespace pmdev {

extern const RangeRow kT1[13];  // XK(L), XK(E), ЖК(J), the KARD characteristics
extern const RangeRow kT2[13];  // XA(K)
extern const RangeRow kT3[6];   // MK(T)
extern const RangeRow kT4[2];   // ПП(S), ПП(R)
extern const RangeRow kT5[2];   // BP(A1), BP(A2), BP(A3)
extern const RangeRow kT6[47];  // 100П, 50П, Pt100, 21
extern const RangeRow kT7[11];  // Ni
extern const RangeRow kT8[28];  // 100M, 50M, 23

// The table of a table key (0..17). Any other key has no table: an empty
// span, so the row count is 0 and every RangeNo counts as non-standard.
std::span<const RangeRow> TableForKey(int key);

}  // namespace pmdev
