// A small client of the DevTools protocol for the browser tests: starts
// Debian's chromium headless with the protocol on a pipe (fd 3 to the
// browser, fd 4 from it; one JSON message per NUL-terminated record) and
// drives one page through it. No packages beyond Node's own.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

class Browser {
  constructor(proc, profile) {
    this.proc = proc;
    this.profile = profile;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    let buffered = Buffer.alloc(0);
    proc.stdio[4].on('data', (chunk) => {
      buffered = Buffer.concat([buffered, chunk]);
      for (let end; (end = buffered.indexOf(0)) >= 0;) {
        const message = JSON.parse(buffered.subarray(0, end).toString('utf8'));
        buffered = buffered.subarray(end + 1);
        this.dispatch(message);
      }
    });
    this.exited = new Promise((resolve) => proc.on('exit', resolve));
  }

  static launch(extraArgs = []) {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'nuvel-chromium-'));
    const args = [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      `--user-data-dir=${profile}`, '--remote-debugging-pipe', '--mute-audio',
      '--window-size=1400,1100', ...extraArgs, 'about:blank',
    ];
    // In a process group of its own, so that closing ends every process it made.
    // Its temporary files go into the profile, which closing removes.
    const proc = spawn('/usr/bin/chromium', args, { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'],
                                                   detached: true, env: { ...process.env, TMPDIR: profile } });
    proc.stderr.on('data', () => {});  // the browser's own chatter
    return new Browser(proc, profile);
  }

  dispatch(message) {
    if (message.id && this.pending.has(message.id)) {
      const { resolve, reject, method } = this.pending.get(message.id);
      this.pending.delete(message.id);
      if (message.error) reject(new Error(`${method}: ${message.error.message}`));
      else resolve(message.result);
      return;
    }
    for (const listener of this.listeners) listener(message);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject, method });
      this.proc.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  on(listener) { this.listeners.push(listener); }

  async newPage() {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(this, sessionId, targetId);
    await page.send('Page.enable');
    await page.send('Runtime.enable');
    await page.send('Emulation.setFocusEmulationEnabled', { enabled: true });
    return page;
  }

  async close() {
    try { await Promise.race([this.send('Browser.close'), delay(3000)]); } catch (e) { /* already gone */ }
    try { process.kill(-this.proc.pid, 'SIGKILL'); } catch (e) { /* all gone */ }
    await this.exited;
    fs.rmSync(this.profile, { recursive: true, force: true, maxRetries: 20, retryDelay: 100 });
  }
}

class Page {
  constructor(browser, sessionId, targetId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.targetId = targetId;
    this.console = [];
    browser.on((m) => {
      if (m.sessionId !== sessionId) return;
      if (m.method === 'Runtime.consoleAPICalled')
        this.console.push(m.params.args.map((a) => a.value !== undefined ? a.value : a.description).join(' '));
      if (m.method === 'Runtime.exceptionThrown') this.console.push('exception: ' + m.params.exceptionDetails.text +
        ' ' + (m.params.exceptionDetails.exception || {}).description);
    });
  }

  send(method, params = {}) { return this.browser.send(method, params, this.sessionId); }

  async navigate(url) {
    const loaded = this.waitForEvent('Page.loadEventFired');
    await this.send('Page.navigate', { url });
    await loaded;
  }

  waitForEvent(method) {
    return new Promise((resolve) => {
      const listener = (m) => {
        if (m.sessionId !== this.sessionId || m.method !== method) return;
        this.browser.listeners.splice(this.browser.listeners.indexOf(listener), 1);
        resolve(m.params);
      };
      this.browser.on(listener);
    });
  }

  // The value of an expression in the page (awaited when it is a promise),
  // evaluated as though the user had acted (a click that starts sound).
  async evaluate(expression) {
    const r = await this.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true,
                                                    userGesture: true });
    if (r.exceptionDetails) throw new Error(`in the page: ${expression.slice(0, 80)}: ` +
      (r.exceptionDetails.exception ? r.exceptionDetails.exception.description : r.exceptionDetails.text));
    return r.result.value;
  }

  // Polls an expression until it is truthy; its value, or an error after ms.
  async waitFor(expression, ms, what) {
    const end = Date.now() + ms;
    for (;;) {
      const value = await this.evaluate(expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`timed out after ${ms} ms waiting for ${what || expression}`);
      await delay(50);
    }
  }

  // A key by its position (KeyboardEvent.code) and its Windows key code.
  async keyDown(code, vk) {
    await this.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', code, key: code, windowsVirtualKeyCode: vk,
                                                nativeVirtualKeyCode: vk });
  }

  async keyUp(code, vk) {
    await this.send('Input.dispatchKeyEvent', { type: 'keyUp', code, key: code, windowsVirtualKeyCode: vk,
                                                nativeVirtualKeyCode: vk });
  }

  // Held for two menu frames, as a person's key press is.
  async press(code, vk, heldMs = 70) {
    await this.keyDown(code, vk);
    await delay(heldMs);
    await this.keyUp(code, vk);
  }
}

function delay(ms) { return new Promise((resolve) => setTimeout(resolve, ms)); }

module.exports = { Browser, delay };
