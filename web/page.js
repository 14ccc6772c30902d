// The page's own script, linked after the module (--post-js) into the one update.js.
// It draws the page, turns clicks and WebHID notices into calls of the update control
// (PageMain.cpp) and carries out the control's user-interface operations (Module.page).
//
// One call into the module at a time: a call may suspend (waiting for the device or
// the user) and no other may start meanwhile, so every call goes through `call`. A
// flashing run is one such call from the notice that brought the controller back in
// boot mode to its end.
(function () {
  const kAppProductId = 0x6E21;
  const kBootProductId = 0x6E30;
  const kVendorId = 0x4B2E;
  const kVersionUnread = 0x5A5A5A5A;
  const kChineseLanguageId = 2052;
  // How long the controller may take to come back by itself before the page asks for
  // the click that lets it use the controller in its other mode.
  const kComeBackMs = 3000;

  const ownTexts = {
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

  const $ = (id) => document.getElementById(id);
  const hex = (value) => '0x' + value.toString(16).toUpperCase().padStart(4, '0');
  const version = (hundredths, beta) =>
      (hundredths / 100).toFixed(2) + (beta ? ` beta${beta}` : '');

  let session = 0;
  let say = ownTexts.en;
  const texts = {};  // the controller's texts, by TextId
  let queue = Promise.resolve();
  let noticesQueued = false;
  let image = null;       // {path, name}: the chosen image in the module's file system
  let updateAfterChoice = false;
  let expecting = null;   // 'boot' after the switch, 'app' after a completed run
  let expectTimer = 0;
  let roadTimer = 0;      // the road's bound, while it waits for the controller
  let lastState = null;

  // One call into the module, after the calls before it.
  function call(name, returnType = null, argTypes = [], args = []) {
    const result = queue.then(() => ccall(name, returnType, argTypes, args, {async: true}));
    queue = result.catch((error) => console.error(name, error));
    return result;
  }

  function show(id, visible) {
    $(id).hidden = !visible;
  }

  async function refresh() {
    const state = JSON.parse(await call('update_state', 'string', ['number'], [session]));
    lastState = state;
    const line = $('device');
    if (state.openRefused) {
      line.textContent = say.refused(state.openError);
    } else if (!state.connected) {
      line.textContent = expecting ? say.restarting : say.noDevice;
    } else if (state.productId === kBootProductId) {
      line.textContent = say.bootMode(hex(state.type));
    } else if (state.firmwareInfo !== kVersionUnread && state.deviceKind !== 7) {
      line.textContent = say.appMode(hex(state.type),
                                     version(state.firmwareInfo & 0xFFFF, state.firmwareInfo >>> 16));
    } else {
      line.textContent = say.unknownDevice;
    }
    explainNoController(state);
    if (expecting === 'app' && state.versionAfterUpdate) {
      stopExpecting();
      $('status').textContent = say.newVersion(
          version(state.versionAfterUpdate & 0xFFFF, state.versionAfterUpdate >>> 16));
    }
  }

  // While no controller can be used: why, and what to do, from the core's diagnosis (the
  // first finding that did not pass), with the README's section on the udev rule when the
  // browser may not open the controller.
  async function explainNoController(state) {
    if ((state.connected && !state.openRefused) || expecting) {
      show('diagnosis', false);
      return;
    }
    const diagnosis = JSON.parse(await call('update_diagnosis', 'string', ['number'], [session]));
    const first = diagnosis.findings.find((finding) => !finding.passed);
    show('diagnosis', !!first);
    if (!first) return;
    $('diagnosis').dataset.kind = first.kind;
    $('diagnosis-text').textContent = first.text;
    $('diagnosis-advice').textContent = first.advice;
    const link = $('diagnosis-link');
    link.href = diagnosis.readme;
    link.textContent = say.readme;
    link.hidden = first.kind !== 'browser-open-refused';
    if (first.kind === 'browser-open-refused') $('device').textContent = '';  // said below
  }

  // How the browser's chooser ended, for the diagnosis; a choice comes back as an arrival.
  function noteRequest(devices, failure) {
    Module.webHid.requested(devices, failure);
    if (devices.length > 0) {
      Module.webHid.granted(devices[0]);
    } else {
      refresh();
    }
  }

  function handleNotices() {
    if (noticesQueued) return;
    noticesQueued = true;
    queue = queue.then(() => {
      noticesQueued = false;
    });
    call('update_handle_notices', null, ['number'], [session]).then(refresh);
  }

  // After the switch or a completed run the controller comes back in its other mode;
  // if the browser does not bring it back by itself, the user allows it with a click.
  function expectComeBack(mode) {
    stopExpecting();
    expecting = mode;
    expectTimer = setTimeout(() => {
      const back = lastState && lastState.connected &&
          lastState.productId === (mode === 'boot' ? kBootProductId : kAppProductId);
      if (expecting !== mode || back) return;
      $('come-back-why').textContent = mode === 'boot' ? say.whyBoot : say.whyApp;
      $('come-back').textContent = mode === 'boot' ? say.connectBoot : say.connectApp;
      show('come-back-box', true);
    }, kComeBackMs);
  }

  function stopExpecting() {
    clearTimeout(expectTimer);
    expecting = null;
    show('come-back-box', false);
  }

  async function connect(productIds) {
    let devices = [];
    let failure = null;
    try {
      devices = await navigator.hid.requestDevice(
          {filters: productIds.map((productId) => ({vendorId: kVendorId, productId}))});
    } catch (error) {
      console.error(error);
      failure = error;
    }
    noteRequest(devices, failure);
  }

  function showFailure(what, todo, detail) {
    $('failure-what').textContent = what;
    $('failure-todo').textContent = todo;
    $('failure-detail').textContent = detail || '';
    show('failure', true);
  }

  async function chooseImage(file) {
    const bytes = new Uint8Array(await file.arrayBuffer());
    FS.mkdirTree('/image');
    const path = '/image/' + file.name;
    FS.writeFile(path, bytes);
    image = {path, name: file.name};
    const view = new DataView(bytes.buffer);
    $('image-info').textContent = bytes.length < 28 ? '' :
        say.imageInfo(version(view.getUint16(0, true), view.getUint16(2, true)),
                      hex(view.getUint32(12, true)), bytes.length);
  }

  async function onUpdateClicked() {
    if (!image) {
      updateAfterChoice = true;
      $('image').click();
      return;
    }
    show('failure', false);
    show('message', false);
    const check = JSON.parse(await call('update_check_image', 'string', ['number', 'string'],
                                        [session, image.path]));
    if (check.problem === 'typeMismatch') {
      Module.page.message('The firmware type is error!\n', texts[6]);
      showFailure(say.typeRefused(hex(check.type), hex(check.expectedType)), '', check.detail);
      return;
    }
    if (check.problem !== 'none') {
      showFailure(say.imageProblem(check.detail), '', '');
      return;
    }
    if (!(await Module.page.ask(check.prompt, texts[6]))) return;
    if (!(await call('update_confirm_image', 'number', ['number'], [session]))) return;
    $('status').textContent = say.switching;
    expectComeBack('boot');
    await call('update_clicked', null, ['number'], [session]);
    await refresh();
  }

  // The update control's user-interface operations.
  Module['page'] = {
    message(text, caption) {
      $('message-caption').textContent = caption;
      $('message-text').textContent = text.trim();
      show('message', true);
    },
    ask(text, caption) {
      const dialog = $('ask');
      $('ask-caption').textContent = caption;
      $('ask-text').textContent = text.trim();
      return new Promise((resolve) => {
        dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), {once: true});
        dialog.returnValue = 'cancel';
        dialog.showModal();
      });
    },
    armTimer(milliseconds) {
      clearTimeout(roadTimer);
      if (milliseconds >= 0) {
        roadTimer = setTimeout(() => call('update_timer', null, ['number'], [session]).then(refresh),
                               milliseconds);
      }
    },
    progress(position) {
      $('progress').value = Math.max(0, Math.min(100, position));
    },
    updateButton(enabled) {
      $('update').disabled = !enabled;
    },
    completionLabel(visible) {
      show('completion', visible);
    },
    title(text) {
      document.title = text;
      $('title').textContent = text;
    },
    runProgress(outcome) {
      stopExpecting();
      $('device').textContent = say.bootMode(hex(outcome.type));
      show('failure', false);
      $('status').textContent = outcome.step === 'streaming' ?
          say.writing(Math.min(outcome.block + 1, outcome.blockCount), outcome.blockCount) :
          say.steps[outcome.step] + '…';
    },
    runFinished(outcome) {
      if (outcome.failure === 'none') {
        $('status').textContent = say.upgraded;
        expectComeBack('app');
        return;
      }
      $('status').textContent = '';
      if (outcome.deviceGone) $('device').textContent = say.noDevice;
      const where = outcome.step === 'streaming' ?
          say.writingAt(outcome.block + 1, outcome.blockCount) :
          say.steps[outcome.step];
      const imageFailures = ['imageRefused', 'emptyPayload', 'regionOutOfRange', 'imageUnreadable'];
      const f = say.failures;
      const [what, todo] = outcome.deviceGone ? f.gone(where) :
          imageFailures.includes(outcome.failure) ? f.image() :
          (f[outcome.failure] || f.other)(where);
      showFailure(what, todo, outcome.detail);
    },
  };

  function start() {
    const browserLanguage = (navigator.languages && navigator.languages[0]) || navigator.language;
    const languageId = ccall('update_language_of', 'number', ['string'], [browserLanguage]);
    say = languageId === kChineseLanguageId ? ownTexts.zh : ownTexts.en;
    document.documentElement.lang = say.lang;
    session = ccall('update_session_new', 'number', ['number'], [languageId]);
    for (const id of [4, 6, 12, 14]) {
      texts[id] = ccall('update_text', 'string', ['number', 'number'], [session, id]);
    }
    Module.page.title(texts[6]);
    $('instructions').textContent = texts[14];
    $('completion').textContent = texts[4];
    $('update').textContent = texts[12];
    $('connect').textContent = say.connect;
    $('image-label').textContent = say.image;
    $('ask-cancel').textContent = say.cancel;
    show('notice', languageId !== kChineseLanguageId);

    if (!Module.webHid.available()) {
      $('no-webhid').textContent = window.isSecureContext ? say.noWebHid : say.notSecure;
      show('no-webhid', true);
      show('app', false);
      document.body.dataset.ready = 'no-webhid';
      return;
    }
    Module.webHid.onNotice = handleNotices;
    $('connect').addEventListener('click', () => connect([kAppProductId, kBootProductId]));
    $('come-back').addEventListener('click',
        () => connect([expecting === 'app' ? kAppProductId : kBootProductId]));
    $('update').addEventListener('click', onUpdateClicked);
    $('message-ok').addEventListener('click', () => show('message', false));
    $('image').addEventListener('change', async () => {
      const file = $('image').files[0];
      if (!file) return;
      await chooseImage(file);
      if (updateAfterChoice) {
        updateAfterChoice = false;
        onUpdateClicked();
      }
    });
    call('update_start_up', null, ['number'], [session]).then(refresh).then(() => {
      document.body.dataset.ready = 'yes';
    });
  }

  Module['onRuntimeInitialized'] = start;
})();
