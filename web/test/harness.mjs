// What the browser tests, the benchmark and the screenshots share: a static server for
// the built page on 127.0.0.1, headless Chromium (Debian's, never a downloaded one),
// the page opened with the stand-in navigator.hid around the simulated controller, and
// firmware images.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import puppeteer from 'puppeteer-core';

const here = path.dirname(fileURLToPath(import.meta.url));
// The WebAssembly build directory (emcmake cmake -B build-web); CTest passes it.
export const buildDir = path.resolve(process.env.UPDATE_WEB_BUILD || path.join(here, '../../build-web'));
export const siteDir = path.join(buildDir, 'web/site');
const standInSource = fs.readFileSync(path.join(here, 'stand-in.js'), 'utf8');
const simSource = fs.readFileSync(path.join(buildDir, 'web/test/update_web_sim.js'), 'utf8');

const kTypes = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                '.wasm': 'application/wasm'};

// Serves the built page, nothing else, until closed.
export async function serve() {
  const server = http.createServer((request, response) => {
    const name = path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = path.join(siteDir, name === '/' ? 'index.html' : name);
    if (!file.startsWith(siteDir + path.sep) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    // Cross-origin isolated, so that performance.now() resolves 5 us instead of 100 us
    // (the benchmark); the page needs nothing from elsewhere.
    response.writeHead(200, {'Content-Type': kTypes[path.extname(file)] || 'application/octet-stream',
                             'Cross-Origin-Opener-Policy': 'same-origin',
                             'Cross-Origin-Embedder-Policy': 'require-corp'});
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close()};
}

export async function launch() {
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'update-web-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--no-first-run', '--disable-sync', '--disable-quic'],
  });
  return {
    browser,
    async close() {
      await browser.close();
      fs.rmSync(userDataDir, {recursive: true, force: true});
    },
  };
}

export const defaultStandIn = {
  granted: [0x6E21, 0x6E30],
  latencyMs: 0,
  reenumerateMs: 200,
  sim: {typeCode: 0x600A, version: 214, updatedVersion: 215, regionStart: 64},
};

// Opens the page in the browser language given, with the stand-in (null: a browser
// without WebHID), and waits until it has looked for the controller (or said why it
// cannot). prepare(page) runs before the page is loaded.
export async function openPage(browser, url,
                               {language = 'en-US', standIn = defaultStandIn, prepare = null} = {}) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => {
    errors.push(error.message);
    if (process.env.UPDATE_WEB_DEBUG) console.log('page error:', error.message);
  });
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
    if (process.env.UPDATE_WEB_DEBUG) console.log('page:', message.type(), message.text());
  });
  page.errors = errors;
  await page.evaluateOnNewDocument((lang) => {
    Object.defineProperty(navigator, 'languages', {get: () => [lang]});
    Object.defineProperty(navigator, 'language', {get: () => lang});
  }, language);
  if (standIn) {
    const config = {...defaultStandIn, ...standIn, sim: {...defaultStandIn.sim, ...standIn.sim}};
    await page.evaluateOnNewDocument(`${simSource}\n;(${standInSource})(${JSON.stringify(config)});`);
  } else {
    await page.evaluateOnNewDocument(() => {
      Object.defineProperty(Navigator.prototype, 'hid', {get: () => undefined});
    });
  }
  if (prepare) await prepare(page);
  await page.goto(url);
  await page.waitForSelector('body[data-ready]', {timeout: 20000});
  return page;
}

// A .dat image: the 28-byte header, then the payload.
export function makeImage({type = 0x600A, version = 215, beta = 0, payload}) {
  const header = Buffer.alloc(28);
  header.writeUInt16LE(version, 0);
  header.writeUInt16LE(beta, 2);
  header.writeUInt32LE(payload.length, 8);
  header.writeUInt32LE(type, 12);
  return Buffer.concat([header, Buffer.from(payload)]);
}

export function writeImage(name, image) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'update-web-image-'));
  const file = path.join(dir, name);
  fs.writeFileSync(file, image);
  return file;
}

export function payloadOf(length) {
  return Array.from({length}, (_, i) => (i * 131 + 3) & 0xFF);
}

export async function chooseImage(page, file) {
  const input = await page.$('#image');
  await input.uploadFile(file);
  await page.waitForFunction(() => document.getElementById('image-info').textContent !== '');
}

// Waits until the page shows the element, then clicks it.
export async function clickWhenShown(page, selector, timeout = 10000) {
  await page.waitForSelector(selector, {visible: true, timeout});
  await page.click(selector);
}

export async function textOf(page, selector) {
  return page.$eval(selector, (element) => element.textContent);
}

export async function waitForText(page, selector, text, timeout = 15000) {
  await page.waitForFunction((s, t) => document.querySelector(s).textContent.includes(t),
                             {timeout}, selector, text);
}

// Waits for the version question, checks it and answers OK.
export async function answer(page, question) {
  await page.waitForSelector('#ask[open]', {timeout: 15000});
  const asked = await textOf(page, '#ask-text');
  if (!asked.includes(question)) throw new Error(`asked "${asked}", not "${question}"`);
  await page.click('#ask-ok');
  await page.waitForSelector('#ask:not([open])');
}
