// The reply record: 64 bytes filled from one input report, accepted only when its four
// header fields hold what the device's mode and the command sent call for.
//
//   record 0      Lead      application mode: 2 (the input report ID); boot mode: 0
//   record 1      TypeEcho  4 / 5
//   record 2..3   Tag       4 / 0
//   record 4..5   CodeEcho  the code that was sent
//   record 6..17  not examined
//   record 18..63 Payload   reply data, 46 bytes
//
// Application-mode replies are read with ReadAppReport (record byte k = report byte k);
// boot-mode ones with ReadReport (record byte k = report byte k + 1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace protocol {

inline constexpr std::size_t kResponseSize = 64;
inline constexpr std::size_t kPayloadOffset = 18;
inline constexpr std::size_t kPayloadSize = 46;

using ResponseReport = std::array<std::uint8_t, kResponseSize>;

bool PassesAppCheck(const ResponseReport& record, std::uint16_t code);
bool PassesBootCheck(const ResponseReport& record, std::uint16_t code);

// Copies min(wanted, 46) payload bytes to reply (nothing when reply is null) and
// returns how many that is.
std::size_t CopyPayload(const ResponseReport& record, std::uint8_t* reply, std::uint32_t wanted);

}  // namespace protocol
