// What the browser tests and figures share: a static server for the site on
// 127.0.0.1 and the page helpers they inject.
'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const zlib = require('zlib');

const kTypes = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
                 '.data': 'application/octet-stream', '.ogg': 'audio/ogg' };

// A cross-origin isolated page reads a finer clock (5 us instead of 100).
const kIsolation = { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' };

// Serves the folder on a free port of 127.0.0.1, with the isolation headers
// when asked; resolves to { url, close }.
function serve(root, isolate = false) {
  const server = http.createServer((req, res) => {
    const name = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.join(root, name === '/' ? 'index.html' : name);
    if (!file.startsWith(root) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      res.writeHead(404);
      res.end();
      return;
    }
    const type = kTypes[path.extname(file)] || 'application/octet-stream';
    const headers = { 'Content-Type': type, 'Cache-Control': 'no-store' };
    if (isolate) Object.assign(headers, kIsolation);
    res.writeHead(200, headers);
    fs.createReadStream(file).pipe(res);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
  })));
}

// The bytes a visitor transfers from a host that compresses with gzip.
function gzipSize(root) {
  let total = 0, raw = 0;
  const walk = (dir) => {
    for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
      const file = path.join(dir, entry.name);
      if (entry.isDirectory()) { walk(file); continue; }
      const bytes = fs.readFileSync(file);
      raw += bytes.length;
      total += zlib.gzipSync(bytes, { level: 9 }).length;
    }
  };
  walk(root);
  return { gzip: total, raw };
}

// Helpers defined in the page: the canvas against a PNG, files of the page's
// storage as base64, and a dropped file.
const kPageHelpers = `
window.testing = {
  async decode(pngBase64) {
    const bytes = Uint8Array.from(atob(pngBase64), (c) => c.charCodeAt(0));
    const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/png' }),
                                           { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    const off = new OffscreenCanvas(bitmap.width, bitmap.height);
    const octx = off.getContext('2d');
    octx.drawImage(bitmap, 0, 0);
    return octx.getImageData(0, 0, bitmap.width, bitmap.height);
  },
  // How many pixels of the canvas differ from the picture in RGB, outside
  // the box [x0, y0, x1, y1) when one is given.
  differing(want, box) {
    const canvas = document.getElementById('canvas');
    if (canvas.width !== want.width || canvas.height !== want.height) return -1;
    const have = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const w = want.data;
    let differ = 0;
    const [x0, y0, x1, y1] = box || [0, 0, 0, 0];
    for (let i = 0; i < have.length; i += 4) {
      const x = (i >> 2) % want.width, y = Math.floor((i >> 2) / want.width);
      if (x >= x0 && x < x1 && y >= y0 && y < y1) continue;
      if (have[i] !== w[i] || have[i + 1] !== w[i + 1] || have[i + 2] !== w[i + 2]) differ++;
    }
    return differ;
  },
  async differingPixels(pngBase64, box) { return testing.differing(await testing.decode(pngBase64), box); },
  // Whether the canvas shows the picture within ms: every picture the game
  // hands over is compared, so a moving background's one matching frame is
  // not missed. Resolves to 0 when it did, else to the pixels differing last.
  async waitForPicture(pngBase64, ms, box) {
    const want = await testing.decode(pngBase64);
    let differ = testing.differing(want, box);
    if (differ === 0) return 0;
    return new Promise((resolve) => {
      const shown = Module.onPicture;
      const done = (n) => { clearTimeout(timer); Module.onPicture = shown; resolve(n); };
      const timer = setTimeout(() => done(differ), ms);
      Module.onPicture = () => {
        shown();
        differ = testing.differing(want, box);
        if (differ === 0) done(0);
      };
    });
  },
  // Resolves to performance.now() at the first picture that shows what the
  // pictures (the same screen at different moments) share, to within a
  // share of those pixels; null after ms.
  async waitForCommon(pngs, ms, tolerance) {
    const wants = await Promise.all(pngs.map((p) => testing.decode(p)));
    const a = wants[0].data;
    const common = [];
    for (let i = 0; i < a.length; i += 4)
      if (wants.every((w) => w.data[i] === a[i] && w.data[i + 1] === a[i + 1] && w.data[i + 2] === a[i + 2]))
        common.push(i);
    const canvas = document.getElementById('canvas');
    const matches = () => {
      if (canvas.width !== wants[0].width || canvas.height !== wants[0].height) return false;
      const have = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let differ = 0;
      for (const i of common) if (have[i] !== a[i] || have[i + 1] !== a[i + 1] || have[i + 2] !== a[i + 2]) differ++;
      return differ <= tolerance * common.length;
    };
    if (matches()) return performance.now();
    return new Promise((resolve) => {
      const shown = Module.onPicture;
      const done = (t) => { clearTimeout(timer); Module.onPicture = shown; resolve(t); };
      const timer = setTimeout(() => done(null), ms);
      Module.onPicture = () => { shown(); if (matches()) done(performance.now()); };
    });
  },
  readFile(path) {
    try {
      const bytes = FS.readFile(path);
      let text = '';
      for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
      return btoa(text);
    } catch (e) { return null; }
  },
  list(path) { try { return FS.readdir(path).filter((n) => n[0] !== '.'); } catch (e) { return []; } },
  writeFile(path, base64) {
    FS.writeFile(path, Uint8Array.from(atob(base64), (c) => c.charCodeAt(0)));
    return new Promise((resolve) => FS.syncfs(false, (err) => resolve(!err)));
  },
  drop(name, base64) {
    const file = new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name);
    const data = new DataTransfer();
    data.items.add(file);
    document.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
    return true;
  },
};
true`;

module.exports = { serve, gzipSize, kPageHelpers };
