// The page in headless Chromium against the simulated controller behind the stand-in
// navigator.hid: the whole update with the click that allows the boot-mode device, a
// refused image, the controller pulled out while writing, a second controller allowed
// while the page asks, the page in Chinese without WebHID, the page opened from a file or
// with its program blocked. CTest runs this file (node --test); UPDATE_WEB_BUILD names the
// build.
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {pathToFileURL} from 'node:url';

import {answer, chooseImage, clickWhenShown, launch, makeImage, openPage, payloadOf, serve, siteDir,
        textOf, waitForText, writeImage} from './harness.mjs';

// The wire, derived here from the device's rules alone (packet layout, the shared
// transmit buffer and its left-overs, CRC-16/MODBUS, word sum), so that every frame the
// page wrote is checked byte for byte. The examples are those of the native tests.
function crc16(bytes) {
  let crc = 0xFFFF;
  if (bytes.length === 0) return crc;
  for (const byte of bytes) {
    crc ^= byte;
    for (let bit = 0; bit < 8; ++bit) crc = (crc >>> 1) ^ (crc & 1 ? 0xA001 : 0);
  }
  return crc;
}

function packet(type, code, {length = 0, crc = 0, size = 0, offset = 0, data = []} = {}) {
  const p = new Array(64).fill(0);
  const le = (at, value, bytes) => {
    for (let i = 0; i < bytes; ++i) p[at + i] = (value >>> (8 * i)) & 0xFF;
  };
  p[0] = type;
  le(1, code, 2);
  le(5, length, 4);
  le(7, crc, 2);
  le(9, size, 4);
  le(13, offset, 4);
  p.splice(17, data.length, ...data);
  return p.slice(0, 64);
}

function expectedRoad(payload, regionStart) {
  const region = payload.slice(regionStart);
  const tx = new Array(65).fill(0);  // the link's transmit buffer, never cleared
  const app = (p) => {
    tx.splice(0, 65, 0x81, ...p);
    return tx.slice(0, 64);
  };
  const boot = (p, n) => {
    tx.splice(0, n + 1, 0x00, ...p.slice(0, n));
    return tx.slice(0, 65);
  };
  const wire = [app(packet(4, 0x0101, {length: 8, size: 8})), app(packet(4, 0x000C)),
                boot(packet(5, 0x0008, {length: 2, size: 2}), 17),
                // The run asks the type once more before anything else.
                boot(packet(5, 0x0008, {length: 2, size: 2}), 17),
                boot(packet(5, 0x00C1), 17),
                boot(packet(5, 0x0004, {crc: 0xFFFF, size: region.length}), 17)];
  for (let offset = 0; offset < region.length; offset += 46) {
    const data = region.slice(offset, offset + 46);
    wire.push([0x00, ...packet(5, 0x0003, {length: data.length, crc: crc16(data),
                                           size: region.length, offset, data})]);
  }
  let wordSum = 0;
  for (let i = 0; i + 4 <= region.length; i += 4) {
    wordSum = (wordSum + (region[i] | region[i + 1] << 8 | region[i + 2] << 16 | region[i + 3] << 24)) >>> 0;
  }
  // A region shorter than 4096 bytes is verified over its own bytes.
  const query = [0, Math.min(4096, region.length), 0, wordSum, region.length].flatMap(
      (word) => [word & 0xFF, (word >>> 8) & 0xFF, (word >>> 16) & 0xFF, word >>> 24]);
  wire.push(boot(packet(5, 0x00C2), 17), boot(packet(5, 0x00C3, {length: 20, size: 20, data: query}), 37),
            boot(packet(5, 0x0007), 17), app(packet(4, 0x0101, {length: 8, size: 8})));
  return wire;
}

let server;
let chromium;
before(async () => {
  server = await serve();
  chromium = await launch();
});
after(async () => {
  await chromium?.close();
  server?.close();
});

test('the wire model holds the native tests\' examples', () => {
  assert.equal(crc16([...Buffer.from('123456789')]), 0x4B37);
  assert.equal(crc16([0x61, 0x62, 0x63]), 0x5749);
  assert.deepEqual(expectedRoad(payloadOf(64), 64)[0].slice(0, 11),
                   [0x81, 0x04, 0x01, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08]);
});

test('an update from Connect to the new version, with the click for the boot-mode device', async () => {
  // Nothing allowed at first: Connect allows the controller in application mode, and it
  // comes back in boot mode as a device the page may not use until a second click.
  const page = await openPage(chromium.browser, server.url, {standIn: {granted: []}});
  assert.match(await textOf(page, '#device'), /No controller connected/);
  await page.click('#connect');
  await waitForText(page, '#device', 'Controller type 0x600A, firmware 2.14.');
  assert.equal(await page.$eval('#update', (b) => b.disabled), false);

  // 20 whole blocks and one of 3 bytes, "abc": the native tests' CRC-16 example.
  const payload = [...payloadOf(64 + 46 * 20), 0x61, 0x62, 0x63];
  await chooseImage(page, writeImage('road.dat', makeImage({payload})));
  await page.click('#update');
  await answer(page, 'New firmware 2.15 and current is 2.14');

  await clickWhenShown(page, '#come-back');
  assert.match(await textOf(page, '#come-back-why'), /another USB device \(product ID 6E30\)/);
  await waitForText(page, '#message-text', 'Firmware upgraded!');
  await waitForText(page, '#status', 'The controller is back with firmware 2.15.');
  assert.equal(await page.$eval('#completion', (label) => label.hidden), false);

  const device = await page.evaluate(() => ({received: standIn.received(),
                                             stored: standIn.storedRegion(),
                                             version: standIn.versionWord()}));
  assert.equal(device.version, 215);
  assert.deepEqual(device.stored, payload.slice(64));
  const expected = expectedRoad(payload, 64);
  assert.equal(device.received.length, expected.length);
  expected.forEach((frame, i) => assert.deepEqual(device.received[i], frame, `frame ${i}`));
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('an image for another controller is refused before anything is written', async () => {
  const page = await openPage(chromium.browser, server.url);
  await waitForText(page, '#device', 'firmware 2.14');
  await chooseImage(page, writeImage('other.dat', makeImage({type: 0x6011, payload: payloadOf(500)})));
  await page.click('#update');
  await waitForText(page, '#message-text', 'The firmware type is error!');
  assert.match(await textOf(page, '#failure-what'),
               /built for a controller of type 0x6011; this controller is type 0x600A\. Nothing was written/);
  assert.equal(await page.$eval('#ask', (dialog) => dialog.open), false);
  const codes = await page.evaluate(() => standIn.received().map((f) => f[2] | f[3] << 8));
  assert.deepEqual(codes, [0x0101]);  // the identification, nothing after it
  await page.close();
});

test('the controller pulled out while writing, then a new run from boot mode', async () => {
  const page = await openPage(chromium.browser, server.url, {standIn: {sim: {removeAtBlock: 10}}});
  await waitForText(page, '#device', 'firmware 2.14');
  const payload = payloadOf(64 + 46 * 30);
  await chooseImage(page, writeImage('pulled.dat', makeImage({payload})));
  await page.click('#update');
  await answer(page, 'New firmware 2.15 and current is 2.14');
  await waitForText(page, '#failure-what',
                    'The controller was disconnected while writing block 10 of 30.');
  assert.match(await textOf(page, '#failure-todo'), /plug it in again/);

  // Back in boot mode: it waits for the click, then the question comes again. Its
  // version was never read in boot mode.
  await page.evaluate(() => standIn.plugIn(true));
  await clickWhenShown(page, '#update:not([disabled])');
  await answer(page, 'New firmware 2.15 and current is unknown');
  await waitForText(page, '#status', 'The controller is back with firmware 2.15.', 20000);
  assert.deepEqual(await page.evaluate(() => standIn.storedRegion()), payload.slice(64));
  await page.close();
});

test('no controller allowed yet, then none chosen: the page says why and how to allow it', async () => {
  const page = await openPage(chromium.browser, server.url, {standIn: {granted: []}});
  await waitForText(page, '#diagnosis-text', 'The page has not been allowed to use a controller yet.');
  assert.match(await textOf(page, '#diagnosis-advice'), /click Connect and choose it/);
  await page.evaluate(() => standIn.unplug());  // the chooser then has nothing to offer
  await page.click('#connect');
  await waitForText(page, '#diagnosis-text', 'No controller was chosen in the browser\'s list.');
  assert.match(await textOf(page, '#diagnosis-advice'), /check that the cable carries data/);
  assert.equal(await page.$eval('#diagnosis-link', (link) => link.hidden), true);
  await page.close();
});

test('a controller the browser may not open: the udev rule, with the README\'s section', async () => {
  const page = await openPage(chromium.browser, server.url, {standIn: {refuseOpen: true}});
  await waitForText(page, '#diagnosis-text',
                    'The browser may not open the controller in application mode');
  assert.match(await textOf(page, '#diagnosis-text'), /NotAllowedError: Failed to open the device/);
  assert.match(await textOf(page, '#diagnosis-advice'), /udev rule/);
  const link = await page.$eval('#diagnosis-link', (a) => ({hidden: a.hidden, href: a.href}));
  assert.equal(link.hidden, false);
  assert.match(link.href, /#permissions-on-linux-the-udev-rule$/);
  assert.deepEqual(await page.evaluate(() => standIn.received()), []);  // nothing was sent
  await page.close();
});

test('in Chinese, in a browser without WebHID, the page says which browsers have it', async () => {
  const page = await openPage(chromium.browser, server.url, {language: 'zh-CN', standIn: null});
  assert.equal(await textOf(page, '#update'), 'USB 升级');
  assert.match(await textOf(page, '#no-webhid'), /Chrome、Edge 或 Opera/);
  assert.equal(await page.$eval('#notice', (notice) => notice.hidden), true);
  await page.close();
});

// Without its program (update.wasm) nothing on the page works: it says how to open it
// and none of its controls can be used.
test('opened from a file or with its program blocked, the page says how to open it', async () => {
  // The program's fetch fails, or brings a page that says it is not there.
  const wasmAnswer = (answer) => async (page) => {
    await page.setRequestInterception(true);
    page.on('request', (request) => (request.url().endsWith('.wasm') ? answer(request) : request.continue()));
  };
  const blockWasm = wasmAnswer((request) => request.abort());
  const wasmMissing = wasmAnswer((request) => request.respond({status: 404, body: 'not here'}));
  const cases = [
    {name: 'from a file', url: pathToFileURL(`${siteDir}/index.html`).href, language: 'en-US',
     why: /opened from a file \(file:\/\/\).*Open it over http\(s\)/, folder: siteDir},
    {name: 'from a file, in Chinese', url: pathToFileURL(`${siteDir}/index.html`).href,
     language: 'zh-CN', why: /从文件（file:\/\/）打开.*请改为通过 http\(s\) 打开/, folder: siteDir},
    {name: 'its program blocked', url: server.url, language: 'en-US', prepare: blockWasm,
     why: /could not load its program \(update\.wasm.*over http\(s\)/, folder: 'build-web/web/site'},
    {name: 'its program not found, in Chinese', url: server.url, language: 'zh-CN', prepare: wasmMissing,
     why: /浏览器无法加载它的程序（update\.wasm.*通过 http\(s\)/, folder: 'build-web/web/site'},
  ];
  for (const c of cases) {
    const page = await openPage(chromium.browser, c.url, {language: c.language, prepare: c.prepare});
    assert.equal(await page.evaluate(() => document.body.dataset.ready), 'no-module', c.name);
    assert.equal(await page.$eval('#no-module', (box) => box.hidden), false, c.name);
    assert.match(await textOf(page, '#no-module-why'), c.why, c.name);
    assert.equal(await textOf(page, '#no-module-command'),
                 `python3 -m http.server -b 127.0.0.1 -d ${c.folder} 8000`, c.name);
    assert.match(await textOf(page, '#no-module-then'), /http:\/\/127\.0\.0\.1:8000\//, c.name);
    for (const control of ['#connect', '#image', '#update']) {
      assert.equal(await page.$eval(control, (element) => element.disabled), true, `${c.name}: ${control}`);
    }
    await page.close();
  }
});

// A second controller in boot mode, allowed to the page while it asks the version question
// (or before the image is chosen), listed before ours. The page tells no USB place, so
// the road follows ours into boot mode by its mode alone: a controller that already waited
// there when ours left is not ours, whatever its type. Ours gets the whole road; the other
// one is sent nothing but identification, and nothing is stored in it.
test('a second controller allowed while the page asks is never written', async () => {
  const cases = [{moment: 'question', typeCode: 0x600A}, {moment: 'image', typeCode: 0x6011}];
  for (const c of cases) {
    const page = await openPage(chromium.browser, server.url);
    await waitForText(page, '#device', 'firmware 2.14');
    const allowSecond = async () => {
      const looked = await page.evaluate(() => standIn.enumerations());
      await page.evaluate((typeCode) => standIn.addController({typeCode, startInBootMode: true}),
                          c.typeCode);
      await page.waitForFunction((n) => standIn.enumerations() > n, {timeout: 10000}, looked);
    };
    if (c.moment === 'image') await allowSecond();
    const payload = payloadOf(64 + 46 * 12);
    await chooseImage(page, writeImage('ours.dat', makeImage({payload})));
    await page.click('#update');
    if (c.moment === 'question') {
      await page.waitForSelector('#ask[open]');
      await allowSecond();
    }
    await answer(page, 'New firmware 2.15 and current is 2.14');
    await waitForText(page, '#status', 'The controller is back with firmware 2.15.', 20000);

    const seen = await page.evaluate(() => ({
      ours: standIn.received(0), oursStored: standIn.storedRegion(0),
      other: standIn.received(1).map((frame) => frame[2] | frame[3] << 8),
      otherStored: standIn.storedRegion(1)}));
    assert.deepEqual(seen.oursStored, payload.slice(64), c.moment);
    const expected = expectedRoad(payload, 64);
    assert.equal(seen.ours.length, expected.length, c.moment);
    expected.forEach((frame, i) => assert.deepEqual(seen.ours[i], frame, `${c.moment}: frame ${i}`));
    assert.deepEqual(seen.other.filter((code) => code !== 0x0101 && code !== 0x0008), [], c.moment);
    assert.deepEqual(seen.otherStored, [], c.moment);
    assert.deepEqual(page.errors, [], c.moment);
    await page.close();
  }
});
