// Photographs of the page in each language (en, zh) and each main state, against the
// simulated controller: web-<state>-<language>.png in the directory given.
// Run with scripts/screenshots --web [dir].
import fs from 'node:fs';
import path from 'node:path';

import {chooseImage, launch, makeImage, openPage, payloadOf, serve, writeImage} from './harness.mjs';

const out = path.resolve(process.argv[2] || 'screenshots');
fs.mkdirSync(out, {recursive: true});
const image = writeImage('vantor-2.15.dat', makeImage({payload: payloadOf(64 + 46 * 600)}));

async function shoot(page, state, language) {
  const file = path.join(out, `web-${state}-${language}.png`);
  await page.screenshot({path: file, fullPage: true});
  console.log(file);
}

// Each state: how to reach it from a freshly opened page, and the stand-in it needs.
const states = [
  {name: 'no-webhid', standIn: null, reach: async () => {}},
  {name: 'ready', reach: async (page) => {
    await page.waitForFunction(() => !document.getElementById('update').disabled);
    await chooseImage(page, image);
  }},
  {name: 'question', reach: async (page) => {
    await chooseImage(page, image);
    await page.click('#update');
    await page.waitForSelector('#ask[open]');
  }},
  {name: 'boot-click', standIn: {granted: [0x6E21]}, reach: async (page) => {
    await chooseImage(page, image);
    await page.click('#update');
    await page.click('#ask-ok');
    await page.waitForSelector('#come-back-box', {visible: true});
  }},
  {name: 'writing', standIn: {latencyMs: 5}, reach: async (page) => {
    await chooseImage(page, image);
    await page.click('#update');
    await page.click('#ask-ok');
    await page.waitForFunction(() => document.getElementById('progress').value >= 40);
  }},
  {name: 'done', reach: async (page) => {
    await chooseImage(page, image);
    await page.click('#update');
    await page.click('#ask-ok');
    await page.waitForFunction(() => !document.getElementById('completion').hidden &&
                               /2\.15/.test(document.getElementById('status').textContent));
  }},
  {name: 'pulled-out', standIn: {sim: {removeAtBlock: 250}}, reach: async (page) => {
    await chooseImage(page, image);
    await page.click('#update');
    await page.click('#ask-ok');
    await page.waitForSelector('#failure', {visible: true});
  }},
];

const server = await serve();
const chromium = await launch();
try {
  for (const [language, browserLanguage] of [['en', 'en-US'], ['zh', 'zh-CN']]) {
    for (const state of states) {
      const page = await openPage(chromium.browser, server.url,
                                  {language: browserLanguage, standIn: state.standIn});
      await page.setViewport({width: 800, height: 600});
      await state.reach(page);
      await shoot(page, state.name, language);
      await page.close();
    }
  }
} finally {
  await chromium.close();
  server.close();
}
