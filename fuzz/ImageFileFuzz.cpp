// The image file as the tool reads it: the header and size, the checks that may
// refuse it, the word sum of a stretch, and the one decision on an image with its
// version question. The input is the file's bytes.
#include <algorithm>

#include "base/LittleEndian.h"
#include "firmware/ImageFile.h"
#include "fuzz/FuzzSupport.h"
#include "text/LocalizedText.h"
#include "update/ImageCheck.h"

namespace {

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
                        (header.firmwareType == expected && header.payloadLength > 0 &&
                         size >= firmware::kHeaderSize + std::uint64_t{header.payloadLength}),
                    "an image passes exactly when its type matches and it holds a payload");
  }

  // The stretch a run sums: the payload from a region start the device might report
  // (taken from the reserved field, as the file gives no other).
  const std::uint32_t regionStart =
      header.payloadLength == 0 ? 0 : header.reservedA % header.payloadLength;
  CheckSum(scratch.Path(), file, firmware::kHeaderSize + regionStart,
           header.payloadLength - regionStart);

  // The one decision every front end makes before anything is sent, with its question.
  const std::uint16_t expected =
      header.reservedB[0] % 2 == 0 ? firmware::kTypeCodeKind5 : firmware::kTypeCodeKind6;
  const std::uint32_t current = base::LoadU32(header.reservedB.data() + 4);
  const update::ImageCheck check =
      update::CheckImageFile(scratch.Path(), expected, current,
                             [](text::TextId id) { return text::LoadLocalizedText(id, 0x0409); });
  const bool whole = size >= firmware::kHeaderSize + std::uint64_t{header.payloadLength};
  fuzzing::Expect(
      check.Acceptable() == (header.firmwareType == expected && whole && header.payloadLength > 0),
      "an image is accepted exactly when it is whole, not empty and of the type");
  fuzzing::Expect(!check.Acceptable() || (check.info.header == header && !check.prompt.empty()),
                  "an accepted image keeps its header and has its question");
  return 0;
}
