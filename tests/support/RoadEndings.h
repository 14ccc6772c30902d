// How a road started by a click ends, as both windows must tell it: the simulated
// controller's fault, the image chosen, and in each language the box that closes the road
// and the completion label after it. The Qt window's and the Windows dialog's tests run
// every row through their own flow.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/SimPlatform.h"
#include "tests/support/Images.h"

namespace testing_support {

inline constexpr std::uint32_t kEndingBlocks = 20;  // the full blocks of each run's image

enum class ChosenImage {
  kNone,       // the controller never came back in boot mode: nothing was asked
  kWhole,      // the image, checked and confirmed
  kTruncated,  // its header announces more payload than the file holds
  kEmpty,      // its header announces no payload
};

struct Said {
  const char* english;
  const char* chinese;
  const char* In(std::uint16_t languageId) const { return languageId == 2052 ? chinese : english; }
};

inline const Said kWaitingInBootMode{
    "The controller is waiting in boot mode: click USB Update to choose the firmware",
    "手柄在 BOOT 模式下等待：请点击“USB 升级”选择固件"};
inline const Said kNoController{"No device of the controller's maker (vendor ID 0x4B2E)",
                                "没有连接任何来自手柄厂商（厂商 ID 0x4B2E）的设备"};

struct RoadEnding {
  const char* name;
  std::vector<sim::SimFault> faults;
  ChosenImage image;
  Said box;               // the box's whole text
  Said label;             // the completion label's text after the box (its start)
  bool intruder = false;  // another controller plugged in while the file dialog is open

  // The button may start another road unless no controller is left.
  bool ButtonAfter() const { return label.english != kNoController.english; }
};

inline std::vector<RoadEnding> RoadEndings() {
  using sim::FaultTrigger;
  using sim::SimFault;
  return {
      {"completed, another controller arriving",
       {},
       ChosenImage::kWhole,
       {"\n Firmware upgraded! \n", "\n 升级成功。 \n"},
       {"Firmware upgraded to 2.15. You can unplug the controller.",
        "固件已升级到 2.15。现在可以拔下手柄。"},
       true},
      {"disconnected",
       {SimFault::Remove(FaultTrigger::AtBlock(7))},
       ChosenImage::kWhole,
       {"The controller was disconnected while writing block 7 of 20.\nIt stays in boot mode: "
        "plug it in again, then click USB Update to try again.",
        "写入第 7 个数据块（共 20 个）时手柄被断开。\n手柄会停留在 BOOT "
        "模式：请重新插上手柄，然后点击“USB 升级”重试。"},
       kNoController},
      {"stopped answering",
       {SimFault::DropReply(FaultTrigger::AtBlock(12))},
       ChosenImage::kWhole,
       {"The controller stopped answering while writing block 12 of 20 (the device did not "
        "answer).\nUnplug the controller and plug it in again. Then click USB Update to try "
        "again.",
        "写入第 12 个数据块（共 20 个）时手柄停止了应答（设备没有应答）。\n"
        "请拔下手柄后重新插上。然后点击“USB 升级”重试。"},
       kWaitingInBootMode},
      {"check after writing",
       {SimFault::WrongCrc()},
       ChosenImage::kWhole,
       // The CRC-16 of the image's first 4096 bytes, and one bit off.
       {"The check after writing failed: the controller holds other bytes than the image "
        "(image 0x0815, controller 0x0814).\nThe controller waits in boot mode: click USB "
        "Update to try again.",
        "写入后的校验失败：手柄中的数据与映像不同（映像 0x0815，手柄 0x0814）。\n"
        "手柄在 BOOT 模式下等待：请点击“USB 升级”重试。"},
       kWaitingInBootMode},
      {"truncated image",
       {},
       ChosenImage::kTruncated,
       {"The image was refused: the image file ends before the payload its header "
        "announces.\nThe controller waits in boot mode: click USB Update and choose a whole "
        "image for it.",
        "映像被拒绝：映像文件在其文件头声明的有效数据之前就结束了。\n"
        "手柄在 BOOT 模式下等待：请点击“USB 升级”，为它选择完整的固件文件。"},
       kWaitingInBootMode},
      {"image without payload",
       {},
       ChosenImage::kEmpty,
       {"The image was refused: the image holds no payload: there is nothing to write.\nThe "
        "controller waits in boot mode: click USB Update and choose a whole image for it.",
        "映像被拒绝：映像没有有效数据：没有可写入的内容。\n"
        "手柄在 BOOT 模式下等待：请点击“USB 升级”，为它选择完整的固件文件。"},
       kWaitingInBootMode},
      {"not back in boot mode",
       {SimFault::Remove(FaultTrigger::AtCode(0x000C))},
       ChosenImage::kNone,
       {"The controller did not come back in boot mode.\nUnplug the controller and plug it in "
        "again.",
        "手柄没有以 BOOT 模式重新连接。\n请拔下手柄后重新插上。"},
       kNoController},
  };
}

// The platform of a row: another controller (absent until a row plugs it in, in boot
// mode, at another place; it must receive nothing), then ours with the row's faults.
inline std::shared_ptr<sim::CSimPlatform> EndingPlatform(const RoadEnding& ending) {
  return std::make_shared<sim::CSimPlatform>(std::vector{
      std::make_shared<sim::CSimController>(sim::SimConfig{.presentAtStart = false, .faults = {}}),
      std::make_shared<sim::CSimController>(sim::SimConfig{.faults = ending.faults})});
}

// The image file's bytes for a row: the payload, announced whole, in part or not at all.
inline std::vector<std::uint8_t> EndingImage(ChosenImage image) {
  const std::uint32_t size = kEndingBlocks * 46;
  return image == ChosenImage::kEmpty
             ? ImageBytes({}, 0x600A, 0)
             : ImageBytes(Pattern(size), 0x600A,
                          size + (image == ChosenImage::kTruncated ? 100 : 0));
}

}  // namespace testing_support
