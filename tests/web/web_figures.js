// Figures of the game in headless chromium, for the README:
//  - the site's size as a visitor transfers it from a host that compresses;
//  - opening the page to its first picture and to the title menu (the start
//    button clicked as soon as it can be, the logo skipped by key presses,
//    the settings already stored, as a returning player has them); the title
//    is told by what three desktop pictures of it share (its background
//    moves);
//  - the CPU of the tab (its renderer process, as the browser's task manager
//    shows a tab) and of the whole browser (all its processes, the compositor
//    that shows the pictures among them) while the title idles, and the
//    pictures the game hands over meanwhile;
//  - from a picture handed to the canvas to the animation frame that paints
//    it, which the browser adds to every picture;
//  - with the benchmark page (NUVEL_WEB_BENCH=1 tools/build-web.sh), the
//    desktop's round benchmark run in the page: the round frame period at
//    WAIT 80, key press to changed picture as the desktop measures it, and
//    the engine's work.
//
// node web_figures.js SITE REF_DIR [BENCH_DIR] [--runs N]
//   REF_DIR: title*.png and option.txt as tests/web/web_e2e.sh makes them
//   (NUVEL_WEB_REF_KEEP=REF_DIR keeps them)
'use strict';
const fs = require('fs');
const path = require('path');
const { Browser, delay } = require('./cdp');
const { serve, gzipSize, kPageHelpers } = require('./site');

const args = process.argv.slice(2);
const runsAt = args.indexOf('--runs');
const runs = runsAt >= 0 ? Number(args.splice(runsAt, 2)[1]) : 3;
const [site, refDir, benchDir] = args.map((p) => path.resolve(p));
const titles = ['title.png', 'title-2.png', 'title-3.png'].map((n) =>
  fs.readFileSync(path.join(refDir, n)).toString('base64'));
const optionBase64 = fs.readFileSync(path.join(refDir, 'option.txt')).toString('base64');

// CPU seconds (utime + stime) of the browser with all its processes, and of
// its renderers alone.
function treeCpuSeconds(rootPid) {
  const children = new Map();
  for (const pid of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      const renderer = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer');
      children.set(Number(pid), { ppid: Number(fields[1]), cpu: Number(fields[11]) + Number(fields[12]), renderer });
    } catch (e) { /* gone */ }
  }
  let all = 0, renderer = 0;
  const walk = (pid) => {
    const own = children.get(pid);
    if (own) {
      all += own.cpu;
      if (own.renderer) renderer += own.cpu;
    }
    for (const [child, info] of children) if (info.ppid === pid) walk(child);
  };
  walk(rootPid);
  return { all: all / 100, renderer: renderer / 100 };  // USER_HZ
}

function summary(values) {
  const v = [...values].sort((a, b) => a - b);
  const mean = v.reduce((a, b) => a + b, 0) / v.length;
  return { mean, median: v[v.length >> 1], p99: v[Math.min(v.length - 1, Math.floor(v.length * 0.99))],
           max: v[v.length - 1] };
}

async function openToTitle(server) {
  const browser = Browser.launch();
  const page = await browser.newPage();
  await page.send('Page.addScriptToEvaluateOnNewDocument', { source: kPageHelpers });
  // The settings stored first, as a returning player has them.
  await page.navigate(server.url);
  await page.waitFor('window.nuvel && nuvel.ready', 30000);
  await page.evaluate(`testing.writeFile('/save/option.txt', ${JSON.stringify(optionBase64)})`);
  await page.navigate('about:blank');

  await page.send('Page.navigate', { url: server.url });
  await page.waitFor('window.nuvel && nuvel.ready', 30000);
  const readyMs = await page.evaluate('performance.now()');
  const title = page.evaluate(`testing.waitForCommon(${JSON.stringify(titles)}, 30000, 0.001)`);
  await page.evaluate('document.getElementById("start").click(), true');
  let shown = false;
  title.then(() => { shown = true; });
  while (!shown) {
    await page.press('KeyX', 88, 30);  // skips the logo
    await Promise.race([title, delay(100)]);
  }
  const titleMs = await title;
  if (titleMs === null) throw new Error('the title did not appear');
  const firstMs = await page.evaluate('nuvel.pictureTimes[0]');
  return { browser, page, readyMs, firstMs, titleMs };
}

async function idleAndKeys(browser, page) {
  await delay(3000);
  const pictures0 = await page.evaluate('nuvel.pictures');
  const cpu0 = treeCpuSeconds(browser.proc.pid), wall0 = Date.now();
  await delay(15000);
  const cpu1 = treeCpuSeconds(browser.proc.pid), wall = (Date.now() - wall0) / 1000;
  const pictures = (await page.evaluate('nuvel.pictures')) - pictures0;

  await page.evaluate(`(() => {
    window.probe = { painted: [] };
    const shown = Module.onPicture;
    Module.onPicture = () => {
      shown();
      const handed = performance.now();
      requestAnimationFrame(() => probe.painted.push(performance.now() - handed));
    };
    return true;
  })()`);
  await delay(5000);
  const probe = await page.evaluate('probe');
  return { cpuPercent: 100 * (cpu1.all - cpu0.all) / wall, tabPercent: 100 * (cpu1.renderer - cpu0.renderer) / wall,
           picturesPerSecond: pictures / wall, painted: summary(probe.painted),
           count: probe.painted.length };
}

async function benchRound(benchServer) {
  const browser = Browser.launch();
  try {
    const page = await browser.newPage();
    await page.navigate(benchServer.url + '?frames=2000');
    await page.waitFor('bench.done', 300000, 'the benchmark');
    return await page.evaluate('bench.lines');
  } finally {
    await browser.close();
  }
}

async function main() {
  const size = gzipSize(site);
  console.log(`site: ${(size.raw / 1e6).toFixed(2)} MB, ${(size.gzip / 1e6).toFixed(2)} MB gzip-compressed`);
  const server = await serve(site);
  for (let run = 1; run <= runs; run++) {
    const { browser, page, readyMs, firstMs, titleMs } = await openToTitle(server);
    try {
      console.log(`run ${run}: page open to ready ${readyMs.toFixed(0)} ms, to the first picture ` +
                  `${firstMs.toFixed(0)} ms, to the title menu ${titleMs.toFixed(0)} ms`);
      const f = await idleAndKeys(browser, page);
      console.log(`run ${run}: idle title: CPU of the tab ${f.tabPercent.toFixed(1)}%, of the whole browser ` +
                  `${f.cpuPercent.toFixed(1)}% of a core, ` +
                  `${f.picturesPerSecond.toFixed(1)} pictures/s`);
      console.log(`run ${run}: picture handed to the canvas to its painted frame, ${f.count} pictures: ` +
                  `mean ${f.painted.mean.toFixed(1)} ms, median ${f.painted.median.toFixed(1)}, ` +
                  `p99 ${f.painted.p99.toFixed(1)}, max ${f.painted.max.toFixed(1)}`);
    } finally {
      await browser.close();
    }
  }
  await server.close();
  if (benchDir) {
    const benchServer = await serve(benchDir);
    for (let run = 1; run <= runs; run++)
      for (const line of await benchRound(benchServer)) console.log(`bench run ${run}: ${line}`);
    await benchServer.close();
  }
}

main().catch((e) => { console.error(e); process.exit(1); });
