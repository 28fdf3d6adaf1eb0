// Plays a user in front of the glasses page, in the system's Chromium, through one story: it
// prints "<word> <details>" lines as it goes and waits for a line on stdin wherever the test
// must act first. Any failure prints "error <what>" and exits with status 1.
//   node glasses_page_driver.js PLAYWRIGHT_MODULES RELAY_URL SCREENSHOT_DIR
'use strict';

const path = require('path');
const readline = require('readline');

const [modules, relayUrl, screenshots] = process.argv.slice(2);
const { chromium } = require(path.join(modules, 'playwright-core'));

const say = (word, details = '') => process.stdout.write(`${word} ${details}\n`);
const lines = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();
const testActed = async () => {
  if ((await lines.next()).done) throw new Error('the test went away');
};

async function main() {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
  try {
    // 2x device pixels; screenshots with scale "css" give the 1x pictures from the same page.
    const context = await browser.newContext({ viewport: { width: 1320, height: 900 }, deviceScaleFactor: 2 });
    const page = await context.newPage();
    const problems = [];
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    page.on('console', (message) => {
      if (message.type() === 'error') problems.push(`console: ${message.text()}`);
    });
    const shoot = async (name) => {
      await page.screenshot({ path: path.join(screenshots, `${name}-1x.png`), scale: 'css', fullPage: true });
      await page.screenshot({ path: path.join(screenshots, `${name}-2x.png`), scale: 'device', fullPage: true });
    };
    const pinShown = () => page.waitForFunction(() => /^\d{6}$/.test(document.getElementById('pin').textContent));
    const state = async (wanted) => {
      await page.waitForFunction((text) => document.getElementById('d-state').textContent.includes(text), wanted,
        { timeout: 30000 });
      say('state', await page.textContent('#d-state'));
    };
    const offline = async () => {
      await page.waitForFunction(() => {
        const banner = document.getElementById('d-banner');
        return !banner.hidden && banner.textContent === 'The companion is offline.';
      }, null, { timeout: 15000 });
      say('banner', await page.textContent('#d-banner'));
    };

    const response = await page.goto(relayUrl);
    say('csp', response.headers()['content-security-policy']);
    await pinShown();
    await shoot('pairing');
    say('pin', await page.textContent('#pin'));
    say('pair-line', await page.textContent('#pair-line'));
    await testActed(); // paired
    await state('Finished');
    await testActed(); // Codex started a turn
    await state('Thinking\u2026');
    await shoot('thinking');
    await page.click('#stop-thread');
    const result = await page.waitForSelector('#results li:not(.pending)', { timeout: 15000 });
    say('result', await result.textContent());
    await testActed(); // the companion went away
    await offline();
    await shoot('offline');
    // The pairing outlives a reload: the relay says at once that nobody publishes.
    await page.reload();
    await page.waitForSelector('#live', { state: 'visible' });
    await offline();
    await page.click('#forget');
    await pinShown();
    say('forgot', JSON.stringify(await page.evaluate(() => ({ ...localStorage }))));
    say('problems', JSON.stringify(problems));
  } finally {
    await browser.close();
  }
}

main().then(() => process.exit(0), (error) => {
  say('error', String(error && error.stack || error).replace(/\n/g, ' | '));
  process.exit(1);
});
