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


  const $ = (id) => document.getElementById(id);
  const hex = (value) => '0x' + value.toString(16).toUpperCase().padStart(4, '0');
  const version = (hundredths, beta) =>
      (hundredths / 100).toFixed(2) + (beta ? ` beta${beta}` : '');

  let session = 0;
  let say = pageTexts.en;
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
      const imageFailures = ['imageRefused', 'regionOutOfRange', 'imageUnreadable'];
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
    say = languageId === kChineseLanguageId ? pageTexts.zh : pageTexts.en;
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
