// The sweep rule shared by every range of the dialogue and the runs.
#pragma once

namespace kx {

// Number of steps of a range: (max - min)/step + 0.0001 formed in extended
// precision, stored as a 32-bit float, then truncated toward zero. A
// non-finite quotient (a zero step, an infinite or undefined end) or a
// negative one gives -1 (no points); a quotient beyond the 32-bit integer
// range saturates at the largest 32-bit integer.
int step_count(float max, float min, float step);

// The value of point ii of a sweep: ii*step + min formed in extended
// precision and stored as a 32-bit float.
float sweep_point(int ii, float step, float min);

}  // namespace kx
