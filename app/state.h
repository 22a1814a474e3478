// The program-wide state: the design record, the model result records and
// the driver's working values, all owned by the driver and passed by
// reference. Working values keep their values from pass to pass unless a
// step sets them.
#pragma once

#include <string>

#include "common/constants.h"
#include "common/records.h"
#include "input/design.h"

namespace kx {

struct Working {
  float pi = kx::pi;
  float speed = light_speed;
  float cc{};       // voltage coupling factor
  float ko{};       // static coupling, dB
  float kof{};      // dispersive coupling, dB
  float couple{};   // coupling level of the synthesis sweep, dB (negative)
  float w{}, s{};   // strip width and spacing, inch
  float wh{}, sh{}, th{};
  float hmm{};      // H in millimetres
  float zo{}, zof{}, zodc{};
  float zoe{}, zoo{};
  float zoedc{}, zoodc{};
  float effc{}, effe{}, effo{};
  float wte{}, wto{};
  float ate{}, ato{}, ate0{}, ato0{}, atefo{}, atofo{};
  float feff{}, ar{};
  float f{};        // frequency tested by the F x H reason of the accuracy report
  float freq{};     // frequency of a frequency sweep, GHz
  float ftemp{};
  float length{};   // quarter-wave coupler length, inch
  float fnorm{}, g{}, r{}, u{}, temp{};
  std::string ename;
  float sel{};
  int iflag{}, ii{}, iii{}, istep{}, itemp{}, mtemp{};
};

struct State {
  Design design;
  Records rec;
  Working work;
};

}  // namespace kx
