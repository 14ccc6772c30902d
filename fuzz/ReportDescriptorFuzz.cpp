// The report descriptor a device hands the Linux link: whether its reports are
// numbered decides where every frame's data begins. The input is the descriptor.
#include "fuzz/FuzzSupport.h"
#include "hid/linux/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> descriptor(data, size);
  const bool numbered = hid::UsesNumberedReports(descriptor);
  if (numbered) {
    // Only a Report ID item can make the reports numbered, and it needs its prefix.
    bool anyPrefix = false;
    for (const std::uint8_t byte : descriptor) {
      anyPrefix = anyPrefix || (byte & 0xFC) == 0x84;
    }
    fuzzing::Expect(anyPrefix, "numbered reports come from a Report ID item");
  }
  // The walk reads items in order and stops at one cut short, so a descriptor cut
  // shorter cannot hold a whole Report ID item that the full one lacks.
  if (!numbered && size > 0) {
    fuzzing::Expect(!hid::UsesNumberedReports(descriptor.first(size - 1)),
                    "a descriptor cut short is not numbered when the whole one is not");
  }
  return 0;
}
