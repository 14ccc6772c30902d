// Whole updates in headless Chromium against the simulated controller behind the
// stand-in navigator.hid, at 0 and 1 ms per reply: a 64 KiB region, three runs each,
// medians. Per block: the wall time, the host's part (from the echo of the previous
// block handed to the page to this block handed to sendReport: the page's WebHID
// layer, Asyncify, the core, the image read from the module's file system) and the
// wait (from sendReport to the echo handed to the page: the reply's latency and the
// browser's task hop). Run with scripts/test-web --bench.
import {answer, chooseImage, launch, makeImage, openPage, payloadOf, serve, waitForText,
        writeImage} from './harness.mjs';

const kRegion = 64 * 1024;
const kRuns = 3;
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function runOnce(browser, url, file, latencyMs) {
  const page = await openPage(browser, url, {standIn: {latencyMs, reenumerateMs: 20,
                                                       sim: {regionStart: 0}}});
  await waitForText(page, '#device', 'firmware 2.14');
  await chooseImage(page, file);
  await page.click('#update');
  await answer(page, 'New firmware 2.15');
  await waitForText(page, '#message-text', 'Firmware upgraded!', 120000);
  const {sent, delivered} = await page.evaluate(() => standIn.timing);
  await page.close();
  const blocksSent = sent.filter((r) => r.code === 0x0003).map((r) => r.at);
  const echoes = delivered.filter((r) => r.code === 0x0003).map((r) => r.at);
  const host = [];
  const wait = [];
  for (let k = 0; k < blocksSent.length; ++k) {
    wait.push(echoes[k] - blocksSent[k]);
    if (k > 0) host.push(blocksSent[k] - echoes[k - 1]);
  }
  const blocks = blocksSent.length;
  const wall = echoes[blocks - 1] - blocksSent[0];
  const steps = blocksSent.slice(1).map((at, k) => at - blocksSent[k]);
  return {blocks, perBlock: wall / blocks * 1000, step: median(steps) * 1000, host: median(host) * 1000,
          hostMean: host.reduce((a, b) => a + b, 0) / host.length * 1000,
          wait: median(wait) * 1000, kBps: blocks * 46 / wall};
}

const server = await serve();
const chromium = await launch();
try {
  const file = writeImage('bench.dat', makeImage({payload: payloadOf(kRegion)}));
  console.log('| Reply latency | blocks | us/block | median us/block | host us (median) | host us (mean) | wait us | kB/s |');
  console.log('|---|---|---|---|---|---|---|---|');
  for (const latencyMs of [0, 1]) {
    const runs = [];
    for (let i = 0; i < kRuns; ++i) runs.push(await runOnce(chromium.browser, server.url, file, latencyMs));
    const m = (key) => median(runs.map((run) => run[key]));
    console.log(`| ${latencyMs} ms | ${runs[0].blocks} | ${m('perBlock').toFixed(1)} | ${m('step').toFixed(1)} | ` +
                `${m('host').toFixed(1)} | ${m('hostMean').toFixed(1)} | ${m('wait').toFixed(1)} | ` +
                `${m('kBps').toFixed(1)} |`);
  }
} finally {
  await chromium.close();
  server.close();
}
