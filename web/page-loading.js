// Linked after page.js (--post-js) into update.js: what the page does while its program
// is not running. The program is update.wasm, which update.js fetches from beside
// itself. A page opened from a file (file://) may not fetch it, nor one whose server or a
// filter blocks it: then nothing on the page can work, so its controls stay disabled
// (until the program runs) and it says how to open it instead. Said without the
// program, so the language is chosen here by the rule the program uses (exactly zh-CN:
// Chinese).
(function () {
  const $ = (id) => document.getElementById(id);
  const moduleTexts = {
    en: {
      fromFile: 'This page cannot start: it was opened from a file (file://), and from ' +
          'there the browser does not let it load its program (update.wasm). Open it over ' +
          'http(s) instead: serve its folder, for example with this command in a terminal,',
      blocked: (reason) => 'This page cannot start: the browser could not load its ' +
          `program (update.wasm${reason ? ': ' + reason : ''}). Serve the page's folder ` +
          'over http(s) with update.wasm in it, for example with this command in a terminal,',
      then: 'then open http://127.0.0.1:8000/ in Chrome, Edge or Opera.',
    },
    zh: {
      fromFile: '本页无法启动：它是从文件（file://）打开的，浏览器不允许它从那里加载自己的程序' +
          '（update.wasm）。请改为通过 http(s) 打开：为本页所在的文件夹提供服务，例如在终端中运行' +
          '下面的命令，',
      blocked: (reason) => `本页无法启动：浏览器无法加载它的程序（update.wasm${reason ? '：' + reason : ''}）。` +
          '请通过 http(s) 为本页所在、含有 update.wasm 的文件夹提供服务，例如在终端中运行下面的命令，',
      then: '然后在 Chrome、Edge 或 Opera 中打开 http://127.0.0.1:8000/。',
    },
  };
  let moduleRunning = false;

  function moduleLanguage() {
    const browserLanguage =
        (navigator.languages && navigator.languages[0]) || navigator.language || '';
    return /^zh[-_]CN$/.test(browserLanguage) ? moduleTexts.zh : moduleTexts.en;
  }

  // The command of the README that serves the page's folder; the folder itself when the
  // page was opened from it.
  function serveCommand() {
    let folder = 'build-web/web/site';
    if (location.protocol === 'file:') {
      folder = decodeURIComponent(location.pathname).replace(/\/[^/]*$/, '') || '/';
      folder = folder.replace(/^\/([A-Za-z]:)/, '$1');  // file:///C:/... on Windows
      if (/[^\w\/.:@%+=,-]/.test(folder)) folder = `'${folder.replace(/'/g, `'\\''`)}'`;
    }
    return `python3 -m http.server -b 127.0.0.1 -d ${folder} 8000`;
  }

  function showModuleMissing(reason) {
    if (moduleRunning) return;  // a later failure of the running program is not this
    const words = moduleLanguage();
    const why = reason instanceof Error ? reason.message : typeof reason === 'string' ? reason : '';
    document.documentElement.lang = words === moduleTexts.zh ? 'zh-CN' : 'en';
    $('no-module-why').textContent =
        location.protocol === 'file:' ? words.fromFile : words.blocked(why);
    $('no-module-command').textContent = serveCommand();
    $('no-module-then').textContent = words.then;
    $('no-module').hidden = false;
    document.body.dataset.ready = 'no-module';
  }

  function moduleStarted() {
    moduleRunning = true;
    $('no-module').hidden = true;  // said too early, by a browser that lets a file fetch
    $('connect').disabled = false;
    $('image').disabled = false;
  }

  // The page's own start (page.js) comes after the controls are enabled.
  const startPage = Module['onRuntimeInitialized'];
  // A file that comes but is no program (an error page, 404) aborts the start; a fetch
  // that fails outright (blocked) is left as a rejected promise by Debian's emscripten,
  // which nothing else leaves before the program runs. From a file, the browsers with
  // WebHID refuse the fetch and hide its failure from the page (each file is an origin
  // of its own): that is said at once.
  Module['onAbort'] = showModuleMissing;
  window.addEventListener('unhandledrejection', (event) => showModuleMissing(event.reason));
  if (location.protocol === 'file:') showModuleMissing('');
  Module['onRuntimeInitialized'] = () => {
    moduleStarted();
    if (startPage) startPage();
  };
})();
