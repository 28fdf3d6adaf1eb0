// Plays a user in front of the glasses page, in the system's Chromium, step by step as the
// test on the other end of stdin/stdout says. Prints "<word> <details>" lines; any failure
// prints "error <what>" and exits with status 1.
//   node glasses_page_driver.js PLAYWRIGHT_MODULES RELAY_URL SCREENSHOT_DIR
'use strict';

const path = require('path');
const readline = require('readline');

const [modules, relayUrl, screenshots] = process.argv.slice(2);
const { chromium } = require(path.join(modules, 'playwright-core'));

const say = (word, details = '') => process.stdout.write(`${word} ${details}\n`);
const lines = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();
async function nextInstruction() {
  const { value, done } = await lines.next();
  if (done) throw new Error('the test went away');
  return value;
}

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

    const response = await page.goto(relayUrl);
    say('csp', response.headers()['content-security-policy']);
    await page.waitForFunction(() => /^\d{6}$/.test(document.getElementById('pin').textContent));
    await shoot('pairing');
    say('pin', await page.textContent('#pin'));
    say('pair-line', await page.textContent('#pair-line'));

    // Each instruction: "state MS TEXT" waits up to MS for the current thread's state to show TEXT,
    // "stop" presses Stop and reports the result, "banner TEXT" waits for the banner to say TEXT,
    // "shoot NAME" takes the screenshots, "reload" reloads the page and "forget" presses Forget.
    for (;;) {
      const instruction = await nextInstruction();
      const [word, ...rest] = instruction.split(' ');
      const argument = rest.join(' ');
      if (word === 'state') {
        const [limit, ...wanted] = rest;
        await page.waitForFunction((text) => document.getElementById('d-state').textContent.includes(text),
          wanted.join(' '), { timeout: Number(limit) });
        say('state', await page.textContent('#d-state'));
      } else if (word === 'stop') {
        await page.click('#stop-thread');
        const result = await page.waitForSelector('#results li:not(.pending)', { timeout: 15000 });
        say('result', await result.textContent());
      } else if (word === 'banner') {
        await page.waitForFunction((wanted) => {
          const banner = document.getElementById('d-banner');
          return !banner.hidden && banner.textContent === wanted;
        }, argument, { timeout: 15000 });
        say('banner', await page.textContent('#d-banner'));
      } else if (word === 'shoot') {
        await shoot(argument);
        say('shot', argument);
      } else if (word === 'reload') {
        await page.reload();
        await page.waitForSelector('#live', { state: 'visible' });
        say('reloaded');
      } else if (word === 'forget') {
        await page.click('#forget');
        await page.waitForFunction(() => /^\d{6}$/.test(document.getElementById('pin').textContent));
        say('forgot', JSON.stringify(await page.evaluate(() => ({ ...localStorage }))));
      } else if (word === 'done') {
        say('problems', JSON.stringify(problems));
        return;
      } else {
        throw new Error(`unknown instruction "${instruction}"`);
      }
    }
  } finally {
    await browser.close();
  }
}

main().then(() => process.exit(0), (error) => {
  say('error', String(error && error.stack || error).replace(/\n/g, ' | '));
  process.exit(1);
});
