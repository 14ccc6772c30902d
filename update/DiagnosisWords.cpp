// The words of the findings, both languages side by side: one switch over the kinds, each
// case giving the English and the Simplified Chinese of its text and its advice.
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include "text/LocalizedText.h"
#include "update/Diagnosis.h"

namespace update {
namespace {

// One wording in both languages.
struct Both {
  const char* en;
  const char* zh;
};

// The udev rule of packaging/70-corvane-update.rules, as one command installs it.
constexpr const char* kInstallRule =
    "echo 'SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"4b2e\", ATTRS{idProduct}==\"6e21|6e30\", "
    "TAG+=\"uaccess\"' | sudo tee /etc/udev/rules.d/70-corvane-update.rules && sudo udevadm "
    "control --reload-rules && sudo udevadm trigger";

class CWording {
 public:
  explicit CWording(bool chinese) : m_Chinese(chinese) {}

  // pattern in this language, with {0} to {9} replaced by the arguments.
  std::string operator()(Both pattern,
                         std::initializer_list<std::string_view> arguments = {}) const {
    const std::string_view text = m_Chinese ? pattern.zh : pattern.en;
    std::string filled;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const std::size_t index = i + 2 < text.size() && text[i] == '{' && text[i + 2] == '}'
                                    ? static_cast<std::size_t>(text[i + 1] - '0')
                                    : arguments.size();
      if (index < arguments.size()) {
        filled += *(arguments.begin() + index);
        i += 2;
      } else {
        filled += text[i];
      }
    }
    return filled;
  }

 private:
  const bool m_Chinese;
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

// Who the device is: the controller in one of its modes, or the maker's device by its ID.
std::string Who(const CWording& say, std::uint16_t productId) {
  if (productId == hid::kAppProductId) {
    return say({"the controller in application mode", "应用模式下的手柄"});
  }
  if (productId == hid::kBootProductId) {
    return say({"the controller in boot mode", "BOOT 模式下的手柄"});
  }
  return say({"the maker's device with product ID {0}", "产品 ID 为 {0} 的厂商设备"},
             {Hex(productId)});
}

// What the configuration manager's problem codes (CM_PROB_*) mean, for those a USB device
// with a driver commonly shows.
std::string ProblemMeaning(const CWording& say, std::uint32_t code) {
  switch (code) {
    case 1:
      return say({"it is not configured correctly", "设备配置不正确"});
    case 3:
      return say({"its driver may be damaged", "驱动程序可能已损坏"});
    case 10:
      return say({"it cannot start", "设备无法启动"});
    case 14:
      return say({"it needs the computer to restart", "需要重新启动计算机"});
    case 18:
    case 39:
      return say({"its driver is missing or damaged and needs reinstalling",
                  "驱动程序缺失或已损坏，需要重新安装"});
    case 22:
      return say({"it is disabled", "设备已被禁用"});
    case 24:
    case 45:
      return say({"it is not present or not working", "设备不存在或无法工作"});
    case 28:
      return say({"no driver is installed for it", "没有为它安装驱动程序"});
    case 31:
      return say({"Windows cannot load its driver", "Windows 无法加载它的驱动程序"});
    case 43:
      return say({"Windows stopped it because it reported problems",
                  "设备报告了问题，Windows 已将其停止"});
    case 48:
      return say({"its driver is blocked", "它的驱动程序被阻止"});
    case 52:
      return say({"the signature of its driver cannot be verified", "无法验证其驱动程序的签名"});
    default:
      return say({"the system reports a problem", "系统报告了问题"});
  }
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    text += (text.empty() ? "" : ", ") + item;
  }
  return text;
}

FindingWords PermissionWords(const CWording& say, const Finding& f) {
  FindingWords words;
  words.text = say({"{0} is at {1}, but this user may not open it ({2}).",
                    "{0}位于 {1}，但当前用户无权打开它（{2}）。"},
                   {Who(say, f.productId), f.subject, f.reason});
  if (f.ruleFiles) {
    words.text += f.ruleFiles->empty()
                      ? say({" The udev rule is not installed.", "未安装 udev 规则。"})
                      : say({" The udev rule is installed ({0}).", "udev 规则已安装（{0}）。"},
                            {Joined(*f.ruleFiles)});
  }
  if (f.udevRunning) {
    words.text += *f.udevRunning ? say({" udev is running.", "udev 正在运行。"})
                                 : say({" udev is not running.", "udev 没有运行。"});
  }
  if (f.udevRunning == false) {
    words.advice =
        say({"Nothing here applies udev rules (a container?): run the tool as root "
             "(sudo), or install the rule on the host, where udev runs.",
             "这里没有程序应用 udev 规则（是容器吗？）：请以 root 身份（sudo）运行本工具，"
             "或在运行 udev 的主机上安装规则。"});
  } else if (f.ruleFiles && !f.ruleFiles->empty()) {
    words.advice =
        say({"The rule was not applied to this node: run sudo udevadm control "
             "--reload-rules && sudo udevadm trigger, then unplug and replug the "
             "controller. It gives access only to the user at the machine's own "
             "screen; over SSH, give a group access (README, \"Permissions on Linux\").",
             "规则没有应用到这个设备节点：请运行 sudo udevadm control --reload-rules && "
             "sudo udevadm trigger，然后拔下并重新插上手柄。规则只授权给坐在本机前的用户；"
             "通过 SSH 登录时，请为一个用户组授权（见 README“Permissions on Linux”）。"});
  } else {
    words.advice = say({"Install the controller's udev rule with {0}, then unplug and replug "
                        "the controller.",
                        "请用 {0} 安装手柄的 udev 规则，然后拔下并重新插上手柄。"},
                       {kInstallRule});
  }
  return words;
}

FindingWords NoHidWords(const CWording& say, const Finding& f) {
  FindingWords words;
  if (f.driver == "usbhid" && f.source == hid::SurveySource::kLinux) {
    words.text = say({"The USB device of {0} is plugged in at {1} and its HID driver is bound, "
                      "but the system made no hidraw node for it.",
                      "{0}的 USB 设备已插在 {1}，HID 驱动程序也已绑定，但系统没有为它创建 hidraw "
                      "设备节点。"},
                     {Who(say, f.productId), f.subject});
    words.advice =
        say({"Load the hidraw driver with sudo modprobe hidraw, then unplug and "
             "replug the controller.",
             "请用 sudo modprobe hidraw 加载 hidraw 驱动程序，然后拔下并重新插上手柄。"});
    return words;
  }
  words.text = f.driver.empty()
                   ? say({"The USB device of {0} is plugged in at {1}, but it has no HID "
                          "interface: no driver is bound to it.",
                          "{0}的 USB 设备已插在 {1}，但没有 HID 接口：没有绑定驱动程序。"},
                         {Who(say, f.productId), f.subject})
                   : say({"The USB device of {0} is plugged in at {1}, but it has no HID "
                          "interface: it is bound to the driver {2}, not to the HID driver.",
                          "{0}的 USB 设备已插在 {1}，但没有 HID 接口：它绑定的驱动程序是 {2}，"
                          "而不是 HID 驱动程序。"},
                         {Who(say, f.productId), f.subject, f.driver});
  words.advice =
      f.source == hid::SurveySource::kWindows
          ? say({"Its driver was replaced (WinUSB or libusb, by a tool such as Zadig) or is "
                 "missing: in Device Manager choose Update driver, Browse my computer, Let me "
                 "pick, and pick \"USB Input Device\"; then unplug and replug it.",
                 "它的驱动程序被替换（例如被 Zadig 之类的工具换成 WinUSB 或 libusb）或缺失：请在"
                 "“设备管理器”中选择“更新驱动程序”、“浏览我的电脑”、“让我从列表中选择”，选择"
                 "“USB 输入设备”，然后拔下并重新插上手柄。"})
          : say({"Load the HID driver with sudo modprobe usbhid and unplug and replug the "
                 "controller; if another program or driver claimed it (a virtual machine's USB "
                 "pass-through, a user-space driver), release it first.",
                 "请用 sudo modprobe usbhid 加载 HID 驱动程序，然后拔下并重新插上手柄；如果其他"
                 "程序或驱动程序占用了它（虚拟机的 USB 直通、用户态驱动程序），请先释放它。"});
  return words;
}

FindingWords WordsOf(const Finding& f, const CWording& say) {
  switch (f.kind) {
    case FindingKind::kDriverProblem:
      return {say({"The system reports a problem with {0} at {1}{2}: {3} (code {4}).",
                   "系统报告位于 {1} 的{0}{2}有问题：{3}（代码 {4}）。"},
                  {Who(say, f.productId), f.subject,
                   f.driver.empty() ? "" : say({", function {0}", "（功能 {0}）"}, {f.driver}),
                   ProblemMeaning(say, f.problemCode), std::to_string(f.problemCode)}),
              say({"In Device Manager, right-click the device and choose Update driver (Enable "
                   "device when it is disabled); if that does not help, uninstall the device "
                   "there and plug the controller in again.",
                   "请在“设备管理器”中右键单击该设备并选择“更新驱动程序”（设备被禁用时选择“启用"
                   "设备”）；如果无效，在那里卸载该设备，然后重新插上手柄。"})};
    case FindingKind::kNoHidInterface:
      return NoHidWords(say, f);
    case FindingKind::kPermissionDenied:
      return PermissionWords(say, f);
    case FindingKind::kNodeMissing:
      return {say({"The system lists {0} at {1}, but that node does not exist here.",
                   "系统列出了位于 {1} 的{0}，但这里不存在这个设备节点。"},
                  {Who(say, f.productId), f.subject}),
              say({"This looks like a container that does not share the host's /dev: give it "
                   "the hidraw nodes (docker run --device, or bind /dev), or run the tool on "
                   "the host.",
                   "这看起来是一个没有共享主机 /dev 的容器：请把 hidraw 设备节点交给它（docker "
                   "run --device，或绑定 /dev），或在主机上运行本工具。"})};
    case FindingKind::kHeldElsewhere:
      return {say({"{0} is held by another program ({1}).", "{0}被另一个程序占用（{1}）。"},
                  {Who(say, f.productId), f.reason}),
              say({"Close the other programs that use the controller (a game launcher, a "
                   "configuration tool), then unplug and replug it.",
                   "请关闭使用手柄的其他程序（游戏启动器、配置工具），然后拔下并重新插上手柄。"})};
    case FindingKind::kOpenFailed:
      return {say({"{0} at {1} cannot be opened ({2}).", "无法打开位于 {1} 的{0}（{2}）。"},
                  {Who(say, f.productId), f.subject, f.reason}),
              say({"Unplug the controller, plug it in again and try once more.",
                   "请拔下手柄，重新插上后再试一次。"})};
    case FindingKind::kWebOpenRefused:
      return {say({"The browser may not open {0} ({1}).", "浏览器无法打开{0}（{1}）。"},
                  {Who(say, f.productId), f.reason}),
              say({"On Linux the browser opens it through hidraw and needs the controller's "
                   "udev rule (README, \"Permissions on Linux: the udev rule\"); then unplug "
                   "and replug it. Close other tabs and programs that use it.",
                   "在 Linux 上浏览器通过 hidraw 打开手柄，需要手柄的 udev 规则（见 README"
                   "“Permissions on Linux: the udev rule”），安装后拔下并重新插上手柄。请关闭"
                   "使用它的其他标签页和程序。"})};
    case FindingKind::kWireless:
      return {say({"{0} is connected over Bluetooth ({1}).", "{0}通过蓝牙连接（{1}）。"},
                  {Who(say, f.productId), f.subject}),
              say({"Firmware updates need the USB cable: connect the controller with a USB data "
                   "cable and switch it to wired mode.",
                   "固件更新需要 USB 线：请用 USB 数据线连接手柄，并切换到有线模式。"})};
    case FindingKind::kOtherProduct:
      return {say({"A device of the controller's maker with product ID {0} is plugged in at "
                   "{1}, but it is not the controller in either of its modes (0x6E21, 0x6E30): "
                   "another product of the maker, or a receiver.",
                   "位于 {1} 的设备来自手柄的厂商，产品 ID 为 {0}，但它不是处于任一模式"
                   "（0x6E21、0x6E30）的手柄：而是该厂商的其他产品或接收器。"},
                  {Hex(f.productId), f.subject}),
              say({"The update needs the controller itself (product ID 0x6E21, or 0x6E30 in boot "
                   "mode) on a USB data cable, in wired mode; a device with another product ID "
                   "cannot pass it on.",
                   "更新需要用 USB 数据线直接连接手柄本身（产品 ID 0x6E21，BOOT 模式下为 0x6E30），"
                   "并处于有线模式；其他产品 ID 的设备无法转交更新。"})};
    case FindingKind::kWebGrantRefused:
      return {f.reason.empty() ? say({"No controller was chosen in the browser's list.",
                                      "没有在浏览器的列表中选择手柄。"})
                               : say({"The browser refused to let the page use a controller ({0}).",
                                      "浏览器拒绝让页面使用手柄（{0}）。"},
                                     {f.reason}),
              say({"Click Connect and choose the controller. If the list is empty, check that "
                   "the cable carries data and the controller is in wired mode; if the browser "
                   "blocked the request, allow HID devices for this site in its settings.",
                   "请点击“连接”并选择手柄。如果列表为空，请检查数据线能否传输数据、手柄是否处于"
                   "有线模式；如果浏览器阻止了请求，请在网站设置中允许本网站使用 HID 设备。"})};
    case FindingKind::kWebNoGrant:
      return {say({"The page has not been allowed to use a controller yet.",
                   "页面还没有获准使用手柄。"}),
              say({"Plug the controller in, click Connect and choose it in the browser's list.",
                   "请插上手柄，点击“连接”并在浏览器的列表中选择它。"})};
    case FindingKind::kNoWebHid:
      return {say({"This browser does not offer WebHID.", "这个浏览器不支持 WebHID。"}),
              say({"Open the page in Chrome, Edge or Opera (version 89 or later), from an "
                   "https:// or localhost address.",
                   "请用 Chrome、Edge 或 Opera（89 或更高版本）从 https:// 或 localhost "
                   "地址打开本页。"})};
    case FindingKind::kNothingFound:
      return {say({"No device of the controller's maker (vendor ID 0x4B2E) is connected, on "
                   "any bus.",
                   "没有连接任何来自手柄厂商（厂商 ID 0x4B2E）的设备。"}),
              say({"Check that the cable carries data (a charge-only cable powers the controller "
                   "but shows no device), try another USB port, and switch the controller on in "
                   "wired mode.",
                   "请检查数据线能否传输数据（仅充电线只供电，不会出现设备），换一个 USB 接口试试，"
                   "并在有线模式下打开手柄。"})};
    case FindingKind::kNoUdev:
      return {say({"udev is not running (a container?): controllers plugged in are found by "
                   "looking again every half second, not by udev's notices.",
                   "udev 没有运行（是容器吗？）：本工具每半秒重新查找一次插入的手柄，而不是等待 "
                   "udev 的通知。"}),
              say({"Nothing needs doing for that.", "这一点无需处理。"})};
    case FindingKind::kControllerUsable:
      return {
          say({"{0} is ready at {1}.", "{0}已就绪（{1}）。"}, {Who(say, f.productId), f.subject}),
          {}};
    case FindingKind::kUdevRunning:
      return {say({"udev is running: controllers plugged in are noticed at once.",
                   "udev 正在运行：插入的手柄会被立即发现。"}),
              {}};
  }
  return {};
}

}  // namespace

FindingWords WordsOf(const Finding& finding, std::uint16_t languageId) {
  const bool chinese = languageId == text::kLangChinesePrc;
  FindingWords words = WordsOf(finding, CWording(chinese));
  // An English sentence may begin with a device's description ("the controller ...").
  if (!chinese && words.text.starts_with("the ")) {
    words.text[0] = 'T';
  }
  return words;
}

const char* KindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::kDriverProblem:
      return "driver-problem";
    case FindingKind::kNoHidInterface:
      return "no-hid-interface";
    case FindingKind::kPermissionDenied:
      return "permission-denied";
    case FindingKind::kNodeMissing:
      return "node-missing";
    case FindingKind::kHeldElsewhere:
      return "held-elsewhere";
    case FindingKind::kOpenFailed:
      return "open-failed";
    case FindingKind::kWebOpenRefused:
      return "browser-open-refused";
    case FindingKind::kWireless:
      return "wireless";
    case FindingKind::kOtherProduct:
      return "other-product";
    case FindingKind::kWebGrantRefused:
      return "browser-grant-refused";
    case FindingKind::kWebNoGrant:
      return "browser-no-grant";
    case FindingKind::kNoWebHid:
      return "no-webhid";
    case FindingKind::kNothingFound:
      return "nothing-found";
    case FindingKind::kNoUdev:
      return "no-udev";
    case FindingKind::kControllerUsable:
      return "controller-ready";
    case FindingKind::kUdevRunning:
      return "udev-running";
  }
  return "unknown";
}

}  // namespace update
