// The game in a real browser: Debian's chromium, headless, driven through the
// DevTools protocol, against the site tools/build-web.sh made, served on
// 127.0.0.1. Compared with the desktop build where the two must agree:
//  - the title appears (its pixels are the desktop's title screenshot), and
//    its silence lets the audio output sleep, which a menu sound wakes;
//  - the options menu reads as on the desktop: the canvas equals the desktop's
//    F6 screenshot in RGB; the page's own F6 picture is downloaded and shows
//    what the canvas showed;
//  - a setting changed in the options menu is in option.txt after a reload;
//  - a whole round of two seats played with keys: player 1, on keys of its
//    own that the desktop's option.txt names, runs into the border, player 2
//    wins; the replay the page kept reproduces its round on
//    the desktop;
//  - the online screen says that online play needs the desktop game;
//  - a replay recorded by the desktop, dropped on the page, plays and
//    reproduces its round (field checksum); a damaged one is refused.
//
// node web_test.js SITE REF_DIR WORK_DIR SIM GAME
//   REF_DIR: title.png, options.png (desktop F6 shots), option.txt, desktop.rpl
'use strict';
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');
const { Browser, delay } = require('./cdp');
const { serve, kPageHelpers } = require('./site');

const [site, refDir, workDir, sim, game] = process.argv.slice(2).map((p) => path.resolve(p));
const pngIndex = path.join(__dirname, '..', 'tools', 'pngindex.py');

const K = { Up: ['ArrowUp', 38], Down: ['ArrowDown', 40], Left: ['ArrowLeft', 37], Right: ['ArrowRight', 39],
            Return: ['Enter', 13], Escape: ['Escape', 27], F6: ['F6', 117], Numpad1: ['Numpad1', 97], M: ['KeyM', 77],
            N: ['KeyN', 78], Control: ['ControlLeft', 17] };
const kScrollMark = [44, 443, 68, 467];  // the options menu's blinking "more below" mark
const ref = (name) => fs.readFileSync(path.join(refDir, name)).toString('base64');

let passed = 0, failed = 0, currentPage = null;
async function check(name, body) {
  const start = Date.now();
  try {
    await body();
    passed++;
    console.log(`ok   ${name} (${((Date.now() - start) / 1000).toFixed(1)} s)`);
  } catch (e) {
    failed++;
    console.log(`FAIL ${name}: ${e.message}`);
    if (process.env.NUVEL_WEB_KEEP && currentPage) {
      const shot = await currentPage.evaluate('document.getElementById("canvas").toDataURL("image/png").split(",")[1]');
      fs.writeFileSync(path.join(process.env.NUVEL_WEB_KEEP, `failed-${failed}.png`), Buffer.from(shot, 'base64'));
    }
  }
}
function expect(condition, text) { if (!condition) throw new Error(text); }

async function keys(page, ...names) {
  for (const n of names) {
    await page.press(...K[n]);
    await delay(130);
  }
}

async function open(page, url) {
  await page.navigate(url);
  await page.waitFor('window.nuvel && nuvel.ready', 30000, 'the page to load');
}

async function start(page) {
  await page.evaluate('document.getElementById("start").click(), true');
  await page.waitFor('nuvel.started', 2000, 'the game to start');
}

// Waits until the canvas shows the picture of a desktop screenshot.
// Waits until the canvas shows the picture of a desktop screenshot. With
// NUVEL_WEB_KEEP naming a folder, the canvas is kept there when it never does.
async function waitForPicture(page, png, ms, what, box) {
  const differ = await page.evaluate(`testing.waitForPicture(${JSON.stringify(ref(png))}, ${ms},
                                                              ${JSON.stringify(box || null)})`);
  if (differ === 0) return;
  if (process.env.NUVEL_WEB_KEEP) {
    const shot = await page.evaluate('document.getElementById("canvas").toDataURL("image/png").split(",")[1]');
    fs.writeFileSync(path.join(process.env.NUVEL_WEB_KEEP, `canvas-${png}`), Buffer.from(shot, 'base64'));
    fs.copyFileSync(path.join(refDir, png), path.join(process.env.NUVEL_WEB_KEEP, png));
  }
  throw new Error(`the canvas never showed ${what} within ${ms} ms (${differ} pixels differ)`);
}

// F6: the name of the picture the page hands over as a download.
async function screenshot(page) {
  const before = await page.evaluate('nuvel.downloads.length');
  await keys(page, 'F6');
  await page.waitFor(`nuvel.downloads.length > ${before}`, 5000, 'the screenshot download');
  return page.evaluate('nuvel.downloads[nuvel.downloads.length - 1]');
}

async function savedFile(page, gamePath, file) {
  const base64 = await page.evaluate(`testing.readFile(${JSON.stringify(gamePath)})`);
  expect(base64, `the page has no ${gamePath}`);
  fs.writeFileSync(file, Buffer.from(base64, 'base64'));
  return file;
}

async function main() {
  const server = await serve(site);
  const browser = Browser.launch();
  const page = await browser.newPage();
  currentPage = page;
  await page.send('Page.addScriptToEvaluateOnNewDocument', { source: kPageHelpers });
  // Downloads land in the work folder.
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: workDir });
  const optionText = fs.readFileSync(path.join(refDir, 'option.txt')).toString('base64');

  try {
    await check('the title appears', async () => {
      await open(page, server.url);
      // The desktop's reference ran with these settings; so does the page.
      expect(await page.evaluate(`testing.writeFile('/save/option.txt', ${JSON.stringify(optionText)})`),
             'option.txt could not be stored');
      await start(page);
      await waitForPicture(page, 'title.png', 40000, 'the title as the desktop shows it');
      await page.waitFor(`Module.audioContext.state === 'suspended'`, 8000, 'the audio output to sleep at the silent title');
    });

    await check('the options menu reads as on the desktop, and F6 downloads the same picture', async () => {
      await keys(page, 'Up', 'Up', 'Return');
      await page.waitFor(`Module.audioContext.state === 'running'`, 2000, 'the menu\'s sounds to wake the audio output');
      // The menu's scroll mark blinks with the menu's own frame count, which
      // no two runs share; everything else must be the same, the scrolling
      // background included.
      await waitForPicture(page, 'options.png', 10000, 'the options menu as the desktop shows it', kScrollMark);
      const shotName = await screenshot(page);
      // The picture F6 kept is the one the canvas showed: the same RGB, when
      // the background comes round to it again.
      const shot = fs.readFileSync(await savedFile(page, `/save/${shotName}`, path.join(workDir, shotName + '.kept')));
      const again = await page.evaluate(`testing.waitForPicture(${JSON.stringify(shot.toString('base64'))}, 8000,
                                                                 ${JSON.stringify(kScrollMark)})`);
      expect(again === 0, `the F6 picture is not what the canvas shows (${again} pixels differ)`);
      for (let i = 0; i < 50 && !fs.existsSync(path.join(workDir, shotName)); i++) await delay(100);
      expect(fs.existsSync(path.join(workDir, shotName)), 'the browser saved no download');
    });

    let optionBefore = null;
    await check('a setting changed in the options menu is in option.txt after a reload', async () => {
      // SOUND VOLUME one step down, then leave the menu, which saves.
      await keys(page, ...Array(14).fill('Down'), 'Left', 'Escape');
      await page.waitFor(`(() => { const t = testing.readFile('/save/option.txt');
                                   return t && t !== ${JSON.stringify(optionText)}; })()`, 5000, 'option.txt saved');
      optionBefore = await page.evaluate(`testing.readFile('/save/option.txt')`);
      await delay(600);  // the copy to IndexedDB follows the write within a tenth of a second
      await open(page, server.url);
      const after = await page.evaluate(`testing.readFile('/save/option.txt')`);
      expect(after === optionBefore, 'option.txt after the reload is not the one the game saved');
      const text = Buffer.from(after, 'base64').toString();
      expect(/^SOUND_VOLUME=/m.test(text), 'option.txt has no SOUND_VOLUME line');
      expect(text !== Buffer.from(optionText, 'base64').toString(), 'option.txt did not change');
      // The keys of player 1, read by their desktop names, are written back by the same names.
      expect(/^KEYS_1P=Keypad 1,Keypad 2,\[\r$/m.test(text), 'player 1\'s keys did not come back by their names');
    });

    await check('a whole round of two seats played with keys', async () => {
      await start(page);
      await waitForPicture(page, 'title.png', 40000, 'the title after the reload');
      await keys(page, 'Return');               // START
      await delay(400);
      await keys(page, 'Return');               // the round intro: OK NEXT
      await delay(400);
      await keys(page, 'Down', 'Down', 'Right'); // the selector: stage FOUR PILLARS
      await keys(page, 'Up', 'Up', 'Return');   // NORMAL GAME START
      await delay(3900);                        // the countdown
      await keys(page, 'Numpad1');              // player 1 (on keys of its own) turns up into the border
      await delay(600);
      await keys(page, 'M');                    // player 2 turns, and lives on
      await page.waitFor(`testing.list('/save/replays').some((n) => n.endsWith('.rpl'))`, 20000,
                         'the round to end and its replay to be kept');
      await delay(1500);
      const resultName = await screenshot(page);
      const result = await savedFile(page, `/save/${resultName}`, path.join(workDir, 'web-result.png'));
      // "2P WIN": the banner in player 2's text colour cells (88..95), none of player 1's (80..87).
      const count = (...a) => Number(execFileSync('python3', [pngIndex, result, ...a]).toString().trim());
      expect(count('inrange', '88', '95', '128', '80', '512', '144') > 5000, 'the banner is not player 2\'s');
      expect(count('inrange', '80', '87', '128', '80', '512', '144') < 100, 'the banner shows player 1\'s colour');
      const name = (await page.evaluate(`testing.list('/save/replays')`)).find((n) => n.endsWith('.rpl'));
      const replay = await savedFile(page, `/save/replays/${name}`, path.join(workDir, 'web-round.rpl'));
      const verdict = execFileSync(sim, ['--game', game, '--verify', replay]).toString();
      expect(/OK/.test(verdict), `the desktop does not reproduce the page's round: ${verdict}`);
      await keys(page, 'Return');               // NEXT ROUND
      await delay(500);
      await keys(page, 'Escape');               // the intro: EXIT, back to the title
      await delay(800);
    });

    await check('the online screen says online play needs the desktop game', async () => {
      await keys(page, 'N');
      await page.waitFor(`nuvel.log.some((l) => l.includes('ONLINE PLAY NEEDS THE DESKTOP GAME'))`, 5000,
                         'the online message');
    });

    await check('a replay recorded by the desktop plays in the page and reproduces its round', async () => {
      const reload = page.waitForEvent('Page.loadEventFired');
      await page.evaluate(`testing.drop('desktop.rpl', ${JSON.stringify(ref('desktop.rpl'))})`);
      await reload;
      await page.waitFor('window.nuvel && nuvel.ready', 30000, 'the page to load the replay');
      expect(await page.evaluate('location.search') === '?replay=1', 'the page did not take the replay');
      await start(page);
      await page.keyDown(...K.Control);         // fast-forward
      await page.waitFor('nuvel.exitStatus !== null', 120000, 'the replay to end');
      const status = await page.evaluate('nuvel.exitStatus');
      const messages = await page.evaluate('nuvel.messages');
      await page.keyUp(...K.Control);
      expect(status === 0 && messages.length === 0, `the replay ended with ${status}: ${messages.join('; ')}`);
      expect(await page.evaluate('nuvel.pictures') > 10, 'the replay was not shown');
    });

    await check('a damaged replay dropped on the page is refused with its reason', async () => {
      const bytes = fs.readFileSync(path.join(refDir, 'desktop.rpl'));
      bytes[bytes.length >> 1] ^= 0x55;
      await open(page, server.url + '?');
      const reload = page.waitForEvent('Page.loadEventFired');
      await page.evaluate(`testing.drop('damaged.rpl', ${JSON.stringify(bytes.toString('base64'))})`);
      await reload;
      await page.waitFor('window.nuvel && nuvel.ready', 30000, 'the page to load the replay');
      await start(page);
      await page.waitFor('nuvel.exitStatus !== null', 20000, 'the refusal');
      const status = await page.evaluate('nuvel.exitStatus');
      const messages = await page.evaluate('nuvel.messages');
      expect(status !== 0 && messages.length > 0, `a damaged replay ended with ${status}`);
    });
  } finally {
    const errors = page.console.filter((l) => /exception|Aborted|RuntimeError/.test(l));
    if (errors.length) console.log('page errors:\n  ' + errors.join('\n  '));
    await browser.close();
    await server.close();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

main().catch((e) => { console.error(e); process.exit(1); });
