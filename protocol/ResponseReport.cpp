#include "protocol/ResponseReport.h"

#include <algorithm>
#include <cstring>

#include "base/LittleEndian.h"

namespace protocol {
namespace {

bool HeaderIs(const ResponseReport& record, std::uint8_t lead, std::uint8_t type, std::uint16_t tag,
              std::uint16_t code) {
  return record[0] == lead && record[1] == type && base::LoadU16(&record[2]) == tag &&
         base::LoadU16(&record[4]) == code;
}

}  // namespace

bool PassesAppCheck(const ResponseReport& record, std::uint16_t code) {
  return HeaderIs(record, 2, 4, 4, code);
}

bool PassesBootCheck(const ResponseReport& record, std::uint16_t code) {
  return HeaderIs(record, 0, 5, 0, code);
}

std::size_t CopyPayload(const ResponseReport& record, std::uint8_t* reply, std::uint32_t wanted) {
  const std::size_t count = std::min<std::size_t>(wanted, kPayloadSize);
  if (reply != nullptr && count > 0) {
    std::memcpy(reply, record.data() + kPayloadOffset, count);
  }
  return reply != nullptr ? count : 0;
}

}  // namespace protocol
