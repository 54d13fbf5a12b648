// Figures of the game in headless chromium, for the README:
//  - the site's size as a visitor transfers it from a host that compresses;
//  - opening the page to the title (the start button clicked as soon as it
//    can be, the logo skipped by a key, settings already stored);
//  - the browser tab's CPU while the title idles, and the pictures it shows;
//  - key press to changed picture on the title (Down and Up in turn): from
//    the key event to the animation frame that paints the picture the game
//    drew in answer;
//  - with the benchmark page (NUVEL_WEB_BENCH=1 tools/build-web.sh), the
//    round frame period at WAIT 80 and the rest of the desktop's round
//    benchmark, run in the page.
//
// node web_figures.js SITE REF_DIR [BENCH_DIR] [--runs N]
//   REF_DIR: title.png and option.txt as tests/web/web_e2e.sh makes them
'use strict';
const fs = require('fs');
const path = require('path');
const { Browser, delay } = require('./cdp');
const { serve, gzipSize, kPageHelpers } = require('./site');

const args = process.argv.slice(2);
const runsAt = args.indexOf('--runs');
const runs = runsAt >= 0 ? Number(args.splice(runsAt, 2)[1]) : 3;
const [site, refDir, benchDir] = args.map((p) => path.resolve(p));
const titleBase64 = fs.readFileSync(path.join(refDir, 'title.png')).toString('base64');
const optionBase64 = fs.readFileSync(path.join(refDir, 'option.txt')).toString('base64');

// CPU seconds of the browser and all its processes (utime + stime).
function treeCpuSeconds(rootPid) {
  const children = new Map();
  for (const pid of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      children.set(Number(pid), { ppid: Number(fields[1]), cpu: Number(fields[11]) + Number(fields[12]) });
    } catch (e) { /* gone */ }
  }
  let ticks = 0;
  const walk = (pid) => {
    const own = children.get(pid);
    if (own) ticks += own.cpu;
    for (const [child, info] of children) if (info.ppid === pid) walk(child);
  };
  walk(rootPid);
  return ticks / 100;  // USER_HZ
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
  await page.evaluate('document.getElementById("start").click(), true');
  await page.press('KeyX', 88, 30);  // skips the logo
  const titleMs = await page.waitFor(`testing.differingPixels(${JSON.stringify(titleBase64)})
    .then((n) => n === 0 && performance.now())`, 30000, 'the title');
  return { browser, page, readyMs, titleMs };
}

async function idleAndKeys(browser, page) {
  await delay(3000);
  const pictures0 = await page.evaluate('nuvel.pictures');
  const cpu0 = treeCpuSeconds(browser.proc.pid), wall0 = Date.now();
  await delay(15000);
  const cpu = treeCpuSeconds(browser.proc.pid) - cpu0, wall = (Date.now() - wall0) / 1000;
  const pictures = (await page.evaluate('nuvel.pictures')) - pictures0;

  await page.evaluate(`(() => {
    window.probe = { key: 0, latencies: [], handed: [] };
    addEventListener('keydown', (e) => { probe.key = e.timeStamp; }, true);
    const shown = Module.onPicture;
    Module.onPicture = () => {
      shown();
      if (!probe.key) return;
      const key = probe.key, handed = performance.now();
      probe.key = 0;
      probe.handed.push(handed - key);
      requestAnimationFrame((t) => probe.latencies.push(t - key));
    };
    return true;
  })()`);
  for (let i = 0; i < 40; i++) {
    await page.press(i % 2 ? 'ArrowUp' : 'ArrowDown', i % 2 ? 38 : 40, 60);
    await delay(250 + Math.random() * 100);
  }
  const probe = await page.evaluate('probe');
  return { cpuPercent: 100 * cpu / wall, picturesPerSecond: pictures / wall, painted: summary(probe.latencies),
           handed: summary(probe.handed), presses: probe.latencies.length };
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
    const { browser, page, readyMs, titleMs } = await openToTitle(server);
    try {
      console.log(`run ${run}: page open to ready ${readyMs.toFixed(0)} ms, to the title ${titleMs.toFixed(0)} ms`);
      const f = await idleAndKeys(browser, page);
      console.log(`run ${run}: idle title: tab CPU ${f.cpuPercent.toFixed(1)}% of a core, ` +
                  `${f.picturesPerSecond.toFixed(1)} pictures/s`);
      console.log(`run ${run}: key press to painted picture, ${f.presses} presses: mean ${f.painted.mean.toFixed(1)} ms, ` +
                  `median ${f.painted.median.toFixed(1)}, p99 ${f.painted.p99.toFixed(1)}, max ${f.painted.max.toFixed(1)}; ` +
                  `to the picture handed to the canvas: mean ${f.handed.mean.toFixed(1)} ms`);
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
