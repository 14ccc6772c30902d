// The image file as the tool reads it: the header and size, the checks that may
// refuse it, the word sum of a stretch, and the choice of an image by the update
// control with its version prompt. The input is the file's bytes.
#include <algorithm>
#include <memory>

#include "base/LittleEndian.h"
#include "firmware/ImageFile.h"
#include "fuzz/FuzzSupport.h"
#include "hid/Hid.h"
#include "update/UpdateController.h"

namespace {

// A platform without devices: choosing an image never reaches the link.
class CNoDevices : public hid::IHidPlatform {
 public:
  std::vector<hid::InterfaceInfo> EnumerateInterfaces() override { return {}; }
  base::Result<std::unique_ptr<hid::IHidHandle>> Open(const std::string&, hid::Access) override {
    return base::Error{base::ErrorKind::kNotFound, "no device"};
  }
  bool RegisterForDeviceNotices(hid::NativeWindow) override { return true; }
  void UnregisterDeviceNotices() override {}
};

void CheckSum(const std::string& path, std::span<const std::uint8_t> file, std::uint64_t offset,
              std::uint32_t length) {
  const auto sum = firmware::SumImageRegion(path, offset, length);
  if (offset + length > file.size()) {
    fuzzing::Expect(!sum && sum.error().kind == base::ErrorKind::kInvalidData,
                    "a stretch past the end of the file is refused as invalid data");
    return;
  }
  fuzzing::Expect(sum.ok(), "a stretch inside the file is summed");
  std::uint32_t expected = 0;
  for (std::uint64_t i = 0; i + 4 <= length; i += 4) {
    expected += base::LoadU32(file.data() + offset + i);
  }
  fuzzing::Expect(sum->sum == expected && sum->length == length,
                  "the word sum is that of the stretch's whole words");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzzing::CScratchFile scratch;
  const std::span<const std::uint8_t> file(data, size);
  scratch.Write(file);

  const firmware::ImageRead read = firmware::ReadImageInfo(scratch.Path());
  if (size == 0) {
    fuzzing::Expect(read.problem == firmware::ImageProblem::kEmpty, "an empty file is refused");
    return 0;
  }
  if (size < firmware::kHeaderSize) {
    fuzzing::Expect(read.problem == firmware::ImageProblem::kHeaderTruncated,
                    "a file shorter than the header is refused");
    return 0;
  }
  fuzzing::Expect(read.problem == firmware::ImageProblem::kNone, "a whole header is read");
  fuzzing::Expect(read.info.fileSize == size, "the file size is the file's");
  const firmware::FirmwareHeader& header = read.info.header;
  const auto headerBytes = firmware::SerializeFirmwareHeader(header);
  fuzzing::Expect(std::equal(headerBytes.begin(), headerBytes.end(), data),
                  "the header is the file's first 28 bytes");

  for (const std::uint16_t expected :
       {firmware::kTypeCodeKind5, firmware::kTypeCodeKind6, firmware::kTypeCodeUnknown}) {
    const firmware::ImageProblem problem = firmware::CheckImage(read.info, expected);
    fuzzing::Expect((problem == firmware::ImageProblem::kNone) ==
                        (header.firmwareType == expected &&
                         size >= firmware::kHeaderSize + std::uint64_t{header.payloadLength}),
                    "an image passes exactly when its type matches and it holds its payload");
  }

  // The stretch a run sums: the payload from a region start the device might report
  // (taken from the reserved field, as the file gives no other).
  const std::uint32_t regionStart =
      header.payloadLength == 0 ? 0 : header.reservedA % header.payloadLength;
  CheckSum(scratch.Path(), file, firmware::kHeaderSize + regionStart,
           header.payloadLength - regionStart);

  // The choice through the update control: the type check, then the prompt.
  hid::CHid link(std::make_shared<CNoDevices>());
  fuzzing::CAgreeingUi ui(scratch.Path());
  update::CUpdateController controller(link, ui);
  controller.SetDeviceKind(header.reservedB[0] % 2 == 0 ? update::kDeviceKindType600A
                                                        : update::kDeviceKindType6011);
  controller.SetCurrentFirmwareInfo(base::LoadU32(header.reservedB.data() + 4));
  update::RunOutcome outcome;
  const std::optional<update::CheckedImage> chosen = controller.SelectFirmwareImage(
      firmware::ExpectedFirmwareType(controller.GetDeviceKind()), &outcome);
  fuzzing::Expect(chosen.has_value() == (header.firmwareType == firmware::ExpectedFirmwareType(
                                                                    controller.GetDeviceKind())),
                  "an image is chosen exactly when its type is the device's");
  fuzzing::Expect(
      chosen ? chosen->header == header : outcome.failure == update::RunFailure::kImageRefused,
      "a chosen image keeps its header; a refused one says why");
  return 0;
}
