// The page's own texts, in English and Simplified Chinese (the controller's own come from
// the module's table, text/): linked before page.js (--post-js), which picks one of them by
// the browser's language.
var pageTexts = {
  en: {
    lang: 'en',
    connect: 'Connect',
    connectBoot: 'Connect the controller in boot mode',
    connectApp: 'Connect the controller again',
    image: 'Firmware image (.dat)',
    noDevice: 'No controller connected: click Connect and choose the controller.',
    restarting: 'The controller is restarting.',
    appMode: (type, version) => `Controller type ${type}, firmware ${version}.`,
    bootMode: (type) => `Controller type ${type} waiting in boot mode.`,
    unknownDevice: 'The controller did not say what it is: unplug it and plug it in again.',
    refused: (why) => `The browser may not open the controller (${why}). On Linux, ` +
        'install the controller\'s udev rule (see the README), then unplug and replug it.',
    imageInfo: (version, type, bytes) => `Version ${version}, type ${type}, ${bytes} bytes.`,
    switching: 'Restarting the controller in boot mode…',
    whyBoot: 'The controller has restarted in boot mode. There it shows itself to the ' +
        'computer as another USB device (product ID 6E30), which this browser has not ' +
        'been allowed to use yet. Click the button below and choose the controller once; ' +
        'the update then goes on by itself.',
    whyApp: 'The controller has restarted with its new firmware, as a USB device this ' +
        'browser has not been allowed to use yet. Click the button below and choose it to ' +
        'read the new version.',
    cancel: 'Cancel',
    steps: {
      linking: 'opening the controller', queryingRegion: 'asking for the region',
      checkingImage: 'checking the image', erasing: 'erasing', streaming: 'writing',
      finishing: 'finishing the write', verifying: 'verifying', completing: 'completing',
      choosing: 'choosing the image',
    },
    writing: (block, count) => `Writing block ${block} of ${count}`,
    writingAt: (block, count) => `writing block ${block} of ${count}`,
    upgraded: 'Waiting for the controller to restart with its new firmware…',
    newVersion: (version) => `The controller is back with firmware ${version}.`,
    stopped: 'The update stopped',
    typeRefused: (image, device) => `This image is built for a controller of type ` +
        `${image}; this controller is type ${device}. Nothing was written: choose an ` +
        `image for type ${device}.`,
    imageProblem: (detail) => `This image cannot be written (${detail}). Nothing was ` +
        'written: choose a whole image for this controller.',
    failures: {
      gone: (where) => [`The controller was disconnected while ${where}.`,
        'It stays in boot mode until it is updated: plug it in again and click USB ' +
        'Update to write the image anew.'],
      deviceCommand: (where) => [`The controller stopped answering while ${where}.`,
        'It stays in boot mode: unplug it and plug it in again, then click USB Update ' +
        'to write the image anew.'],
      deviceNotOpen: () => ['The browser could not open the controller in boot mode.',
        'Unplug it and plug it in again. On Linux, install the controller\'s udev rule ' +
        '(see the README).'],
      crcMismatch: () => ['The check after writing failed: the controller holds other ' +
        'bytes than the image.', 'It stays in boot mode: click USB Update to write the ' +
        'image anew.'],
      image: () => ['The image cannot be written into this controller.',
        'Choose an image built for it, then click USB Update: the controller waits in ' +
        'boot mode.'],
      declined: () => ['Nothing was written.', 'The controller waits in boot mode: ' +
        'click USB Update to be asked again.'],
      noImageChosen: () => ['No image was chosen, so nothing was written.',
        'Choose the image, then click USB Update.'],
      other: (where) => [`The update stopped while ${where}.`,
        'Unplug the controller and plug it in again.'],
    },
    noWebHid: 'This page reaches the controller through WebHID, which this browser does ' +
        'not offer. Open it in Chrome, Edge or Opera (version 89 or later) on Windows, ' +
        'macOS, Linux or ChromeOS; Firefox and Safari do not have WebHID.',
    notSecure: 'Browsers offer WebHID only to pages opened over https:// or from ' +
        'localhost: open this page from such an address.',
    readme: 'The udev rule, in the README',
  },
  zh: {
    lang: 'zh-CN',
    connect: '连接',
    connectBoot: '连接 BOOT 模式下的手柄',
    connectApp: '重新连接手柄',
    image: '固件文件 (.dat)',
    noDevice: '没有连接手柄：请点击“连接”并选择手柄。',
    restarting: '手柄正在重启。',
    appMode: (type, version) => `手柄类型 ${type}，固件版本 ${version}。`,
    bootMode: (type) => `手柄类型 ${type}，正在 BOOT 模式下等待。`,
    unknownDevice: '手柄没有报告类型：请拔下后重新插上。',
    refused: (why) => `浏览器无法打开手柄（${why}）。在 Linux 上请安装手柄的 udev 规则` +
        '（见 README），然后拔下并重新插上手柄。',
    imageInfo: (version, type, bytes) => `版本 ${version}，类型 ${type}，${bytes} 字节。`,
    switching: '正在让手柄重启进入 BOOT 模式…',
    whyBoot: '手柄已重启进入 BOOT 模式。在这个模式下它以另一个 USB 设备（产品 ID 6E30）' +
        '出现，浏览器还没有获准使用它。请点击下面的按钮并选择手柄，只需一次；之后更新会自动继续。',
    whyApp: '手柄已用新固件重启，以浏览器还没有获准使用的 USB 设备出现。请点击下面的按钮' +
        '并选择它，以读取新的版本。',
    cancel: '取消',
    steps: {
      linking: '打开手柄', queryingRegion: '查询写入区域', checkingImage: '检查固件文件',
      erasing: '擦除', streaming: '写入', finishing: '结束写入', verifying: '校验',
      completing: '完成更新', choosing: '选择固件文件',
    },
    writing: (block, count) => `正在写入第 ${block} 块，共 ${count} 块`,
    writingAt: (block, count) => `写入第 ${block} 块（共 ${count} 块）`,
    upgraded: '正在等待手柄用新固件重启…',
    newVersion: (version) => `手柄已重新连接，固件版本 ${version}。`,
    stopped: '更新已停止',
    typeRefused: (image, device) => `这个固件文件适用于类型 ${image} 的手柄，而这个手柄的` +
        `类型是 ${device}。没有写入任何数据：请选择适用于类型 ${device} 的固件文件。`,
    imageProblem: (detail) => `这个固件文件无法写入（${detail}）。没有写入任何数据：` +
        '请选择适用于这个手柄的完整固件文件。',
    failures: {
      gone: (where) => [`${where}时手柄被断开。`,
        '更新完成之前手柄会停留在 BOOT 模式：重新插上手柄，然后点击 USB 升级重新写入固件。'],
      deviceCommand: (where) => [`${where}时手柄停止了应答。`,
        '手柄停留在 BOOT 模式：请拔下后重新插上，然后点击 USB 升级重新写入固件。'],
      deviceNotOpen: () => ['浏览器无法打开 BOOT 模式下的手柄。',
        '请拔下后重新插上。在 Linux 上请安装手柄的 udev 规则（见 README）。'],
      crcMismatch: () => ['写入后的校验失败：手柄中的数据与固件文件不同。',
        '手柄停留在 BOOT 模式：请点击 USB 升级重新写入固件。'],
      image: () => ['这个固件文件无法写入这个手柄。',
        '请选择适用于它的固件文件，然后点击 USB 升级：手柄在 BOOT 模式下等待。'],
      declined: () => ['没有写入任何数据。', '手柄在 BOOT 模式下等待：点击 USB 升级会再次询问。'],
      noImageChosen: () => ['没有选择固件文件，所以没有写入任何数据。',
        '请选择固件文件，然后点击 USB 升级。'],
      other: (where) => [`${where}时更新停止。`, '请拔下手柄后重新插上。'],
    },
    noWebHid: '这个页面通过 WebHID 连接手柄，而这个浏览器不支持 WebHID。请在 Windows、' +
        'macOS、Linux 或 ChromeOS 上用 Chrome、Edge 或 Opera（89 或更高版本）打开；' +
        'Firefox 和 Safari 不支持 WebHID。',
    notSecure: '浏览器只向通过 https:// 或从 localhost 打开的页面提供 WebHID：请从这样的地址打开本页。',
    readme: 'README 中的 udev 规则说明',
  },
};
