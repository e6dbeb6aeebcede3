#pragma once
// The window's choices that the force law and the time step read. The window
// builds one of these from its controls at the start of every step, so a
// change takes effect at the next step; the core never reads a widget.
#include <cstdint>

namespace qd {

enum class Formula : std::uint8_t { E, PE, PES, DUDI, EPESminus };
enum class SignMode : std::uint8_t { Gravoscope, Taoscope };
enum class Walls : std::uint8_t { None, Thermos3X3, Thermos20X20, ThermosNXN };

struct ForceOptions {
  Formula formula = Formula::E;
  bool dropB = false;        // CheckBox2 "(2)'": drops the B term of PES
  bool dropCDF = false;      // CheckBox3: drops the C, D and F terms of PES
  int secondKindCount = 30;  // Ak 30, Bk 15, Ck 10
  SignMode sign = SignMode::Gravoscope;
};

struct StepOptions {
  ForceOptions force;
  bool blockade = false;  // hold slots 1..4
  bool cooler = false;
  bool heater = false;
  Walls walls = Walls::None;
  int threads = 0;  // worker threads for a step; 0: one per core
};

}  // namespace qd
