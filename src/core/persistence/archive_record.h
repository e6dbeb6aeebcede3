#pragma once
// The bytes of a run archive's header and snapshots (docs/run-archive.md),
// and the checks every snapshot read from a file must pass: a frame whose
// checksum is right may still have been made by someone else, so every field
// is checked for sense before the program computes with it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd::archive {

inline constexpr std::uint32_t kFormatVersion = 1;
// What a run archive starts with: the program's mark, a line end that a text
// transfer would change, and an end-of-file mark that stops a text display.
inline constexpr std::uint8_t kMagic[8] = {'Q', 'D', 'R', 'A', '\r', '\n', 0x1A, '\n'};
// The longest fault text a snapshot keeps; a longer one is cut.
inline constexpr std::size_t kMaxFaultText = 127;
// The last step a snapshot may be of: the run state's step counter is 32
// bits and wraps after it, so that a later step would have two numbers.
inline constexpr std::int64_t kLastStep = 2147483647;

// One snapshot: the step it was taken after, the choices the run stepped
// with, the whole run state, and the fault that ended the run after it, if
// one did.
struct Entry {
  std::int64_t step = 0;
  StepOptions options;  // threads is not kept: it never changes a result
  RunState state;
  std::string fault;
};

// CRC-32 (the polynomial of zip and PNG), continued from `crc`.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// Bytes of a snapshot's frame in format version 1 (tag, length, payload,
// CRC); every snapshot has this size.
std::size_t RecordSize();
std::size_t HeaderSize();
// Where a frame's step (i64) and fault text (length byte, then the text)
// lie, for the reader's own checks and for tests that craft frames.
inline constexpr std::size_t kStepAt = 8, kFaultAt = 25, kTaonAt = 153, kStepCountAt = 157, kPresentAt = 9421;

// The bytes of an archive's header and of one snapshot's frame: an archive is
// the header followed by frames. EncodeRecord cuts a long fault text at a
// character and throws FileError for an entry no reader would take back (a
// step outside 0..kLastStep, a step counter that differs from it, ...).
std::vector<std::uint8_t> EncodeHeader(const StepOptions& options);
std::vector<std::uint8_t> EncodeRecord(const Entry& e);

// Empty when the frame's tag, length and checksum are sound, else what is
// wrong ("checksum mismatch").
std::string CheckFrame(const std::uint8_t* frame);
// After CheckFrame: empty when every field makes sense, else what does not
// ("slot count -7 outside 0..60"). Fills `e` when it is given.
std::string DecodeRecord(const std::uint8_t* frame, Entry* e);
// The header's options; false for a value the program does not know.
bool DecodeOptions(const std::uint8_t* nine, StepOptions& options);

// True for UTF-8 without control characters (C0, DEL, C1): text that can go
// to a terminal as it is.
bool PrintableUtf8(std::string_view text);

}  // namespace qd::archive
