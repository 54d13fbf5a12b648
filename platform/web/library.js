// The page's side of the web platform layer (see web.h): sleeping with the
// game's call stack set aside, the canvas, Web Audio for the mix and the
// music, the browser's storage, downloads and key labels.
mergeInto(LibraryManager.library, {
  $NUVEL__postset: 'NUVEL.init();',
  $NUVEL: {
    wake: null,            // resumes the sleeping game
    deadline: 0,
    wakeOnInput: false,
    woken: false,
    timer: 0,
    ticket: 0,             // the pending wake's: a wake-up of an older schedule is stale
    hop: null,             // a message channel: a task without the timers' 4 ms clamp
    delayedTask: null,     // scheduler.postTask, where the browser has it
    init: function () {
      NUVEL.hop = new MessageChannel();
      NUVEL.hop.port1.onmessage = function (e) { NUVEL.check(e.data); };
      if (typeof scheduler !== 'undefined' && scheduler.postTask) NUVEL.delayedTask = scheduler.postTask.bind(scheduler);
      // Asked while the page loads, off the way to the first picture.
      setTimeout(function () { NUVEL.softwareCanvas(); }, 0);
      // The runtime takes main's return at the first sleep for an exit; the
      // page tells that from a real one by asking this.
      Module.gameIsSleeping = function () { return !!NUVEL.wake; };
    },
    // A round is paced by sleeps of a millisecond or so. A delayed task of
    // the browser's scheduler wakes within a few tenths of a millisecond and
    // leaves the thread idle meanwhile, which the rest of the browser needs on
    // a machine of few cores. Where there is none, timers are late by up to
    // a millisecond and clamped to 4 ms when chained, so short sleeps are
    // made of message hops, which keep the thread busy while they last.
    // Sleeps of 4 ms or more and waits for input (a menu's frame) sleep on
    // the timer: a millisecond late there is paid back by the pump or does
    // not matter, and a timer costs the page less than a scheduled task.
    schedule: function () {
      var ticket = ++NUVEL.ticket;
      var left = Math.max(0, NUVEL.deadline - performance.now());
      var wake = function () { NUVEL.check(ticket); };
      if (NUVEL.wakeOnInput || left >= 4) {
        NUVEL.timer = setTimeout(wake, left);
      } else if (NUVEL.delayedTask) {
        NUVEL.delayedTask(wake, { delay: left });
      } else {
        NUVEL.hop.port2.postMessage(ticket);
      }
    },
    check: function (ticket) {
      if (!NUVEL.wake || ticket !== NUVEL.ticket) return;
      clearTimeout(NUVEL.timer);
      if (!NUVEL.woken && performance.now() < NUVEL.deadline) {
        NUVEL.schedule();
        return;
      }
      var wake = NUVEL.wake;
      NUVEL.wake = null;
      try {
        wake();
      } catch (e) {
        if (!(e instanceof ExitStatus)) throw e;  // the game ended: nothing more to resume
      }
    },
    ctx2d: null,
    image: null,           // the picture's ImageData over the page's memory
    // A browser without graphics acceleration composes the page in software,
    // and there a canvas that is handed to the compositor frame by frame costs
    // a copy and a pass of the compositor's thread per picture. Such a canvas
    // is made "desynchronized" (drawn straight to the screen), which showed
    // the title for a third less CPU. With a GPU the canvas stays in step with
    // the page, where a desynchronized one could tear. Without acceleration,
    // WebGL is missing or drawn by a software rasteriser, whose name it gives.
    composesInSoftware: null,
    softwareCanvas: function () {
      if (NUVEL.composesInSoftware !== null) return NUVEL.composesInSoftware;
      var gl = null;
      try { gl = document.createElement('canvas').getContext('webgl'); } catch (e) {}
      NUVEL.composesInSoftware = true;
      if (!gl) return true;
      var info = gl.getExtension('WEBGL_debug_renderer_info');
      var renderer = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
      var lose = gl.getExtension('WEBGL_lose_context');
      if (lose) lose.loseContext();
      NUVEL.composesInSoftware = /swiftshader|llvmpipe|softpipe|software|basic render/i.test(renderer);
      return NUVEL.composesInSoftware;
    },
    audio: null,           // { node, paused, quietBlocks, asleep }
    // The output stops after this long with no voice and no music: a running
    // audio graph costs the browser CPU even when all it plays is silence.
    kQuietBlocksToSleep: 43,  // 2 s of 2048-frame blocks
    wakeAudio: function () {
      var audio = NUVEL.audio, ctx = Module.audioContext;
      if (!audio) return;
      audio.quietBlocks = 0;
      if (audio.asleep && ctx) {
        audio.asleep = false;
        ctx.resume().catch(function () {});
      }
    },
    music: { buffers: {}, loading: {}, source: null, gain: null, level: 1, want: null },
    syncTimer: 0,
    syncing: false,
    syncAgain: false,
    sync: function () {
      if (NUVEL.syncing) { NUVEL.syncAgain = true; return; }
      NUVEL.syncing = true;
      FS.syncfs(false, function (err) {
        NUVEL.syncing = false;
        if (err) console.error('storage: ' + err);
        if (NUVEL.syncAgain) { NUVEL.syncAgain = false; NUVEL.sync(); }
        if (Module.onStorageSynced) Module.onStorageSynced(err);
      });
    },
    context: function () {
      if (!Module.audioContext) {
        try { Module.audioContext = new (window.AudioContext || window.webkitAudioContext)({ sampleRate: 44100 }); }
        catch (e) { return null; }
      }
      return Module.audioContext;
    },
    startMusic: function (name, passes, at) {
      var m = NUVEL.music, ctx = NUVEL.context(), buffer = m.buffers[name];
      if (!ctx || !buffer) return;
      var source = ctx.createBufferSource();
      source.buffer = buffer;
      source.loop = passes > 1;
      source.connect(m.gain);
      source.onended = function () { if (m.source === source) m.source = null; };
      NUVEL.wakeAudio();
      var offset = at % buffer.duration;
      source.start(0, offset);
      if (passes < 1e6) source.stop(ctx.currentTime + passes * buffer.duration - at);
      m.source = source;
    },
  },

  web_sleep__deps: ['$NUVEL'],
  web_sleep: function (deadlineMs, wakeOnInput) {
    return Asyncify.handleSleep(function (wakeUp) {
      NUVEL.wake = wakeUp;
      NUVEL.deadline = deadlineMs;
      NUVEL.wakeOnInput = !!wakeOnInput;
      NUVEL.woken = false;
      NUVEL.schedule();
    });
  },

  web_input_arrived__deps: ['$NUVEL'],
  web_input_arrived: function () {
    if (!NUVEL.wake || !NUVEL.wakeOnInput || NUVEL.woken) return;
    NUVEL.woken = true;
    NUVEL.hop.port2.postMessage(++NUVEL.ticket);
  },

  web_show_picture__deps: ['$NUVEL'],
  web_show_picture: function (rgba, width, height) {
    if (!NUVEL.ctx2d) {
      var canvas = Module.canvas;
      canvas.width = width;
      canvas.height = height;
      NUVEL.ctx2d = canvas.getContext('2d', { alpha: false, desynchronized: NUVEL.softwareCanvas() });
    }
    // A view of the picture where it lies: the canvas copies it once. The
    // view is kept while the memory and the picture stay where they are.
    var image = NUVEL.image;
    if (!image || image.data.buffer !== HEAPU8.buffer || image.data.byteOffset !== rgba ||
        image.width !== width || image.height !== height) {
      image = NUVEL.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4), width, height);
    }
    NUVEL.ctx2d.putImageData(image, 0, 0);
    if (Module.onPicture) Module.onPicture();
  },

  // Whole pixels (the largest whole multiple that fits, at least 1) or fit
  // (the largest size of the picture's aspect ratio), centred in the page's
  // stage, as the desktop's SCALING rule places the picture in its window.
  web_lay_out: function (width, height, fit) {
    if (Module.layOut) Module.layOut(width, height, !!fit);
  },

  web_set_fullscreen: function (on) {
    var stage = Module.stage || document.documentElement;
    try {
      if (on && !document.fullscreenElement) stage.requestFullscreen().catch(function () {});
      if (!on && document.fullscreenElement) document.exitFullscreen().catch(function () {});
    } catch (e) { return 0; }
    return 1;
  },

  web_is_fullscreen: function () { return document.fullscreenElement ? 1 : 0; },

  web_message_box: function (text, caption) {
    if (Module.onMessageBox) Module.onMessageBox(UTF8ToString(text), UTF8ToString(caption));
  },

  web_audio_open__deps: ['$NUVEL'],
  web_audio_open: function () {
    if (NUVEL.audio) return 1;
    var ctx = NUVEL.context();
    if (!ctx) return 0;
    // The node pulls 2048 frames (46 ms) at a time on the page's thread.
    var node = ctx.createScriptProcessor(2048, 0, 2);
    var audio = { node: node, paused: true, quietBlocks: 0, asleep: false };
    node.onaudioprocess = function (e) {
      var left = e.outputBuffer.getChannelData(0), right = e.outputBuffer.getChannelData(1);
      var frames = left.length;
      var stopped = audio.paused || ABORT;
      var quiet = stopped || !_web_audio_busy();
      if (quiet && !NUVEL.music.source && ++audio.quietBlocks >= NUVEL.kQuietBlocksToSleep && !audio.asleep) {
        audio.asleep = true;
        ctx.suspend().catch(function () {});
      }
      if (!quiet) audio.quietBlocks = 0;
      if (stopped) { left.fill(0); right.fill(0); return; }
      var at = _web_audio_pull(frames) >> 1;
      for (var i = 0; i < frames; i++) {
        left[i] = HEAP16[at + 2 * i] / 32768;
        right[i] = HEAP16[at + 2 * i + 1] / 32768;
      }
    };
    node.connect(ctx.destination);
    NUVEL.audio = audio;
    var m = NUVEL.music;
    m.gain = ctx.createGain();
    m.gain.gain.value = m.level;
    m.gain.connect(ctx.destination);
    return 1;
  },

  web_audio_pause__deps: ['$NUVEL'],
  web_audio_pause: function (paused) { if (NUVEL.audio) NUVEL.audio.paused = !!paused; },

  web_audio_wake__deps: ['$NUVEL'],
  web_audio_wake: function () { NUVEL.wakeAudio(); },

  web_music_load__deps: ['$NUVEL'],
  web_music_load: function (namePtr) {
    var name = UTF8ToString(namePtr), m = NUVEL.music, ctx = NUVEL.context();
    if (!ctx || m.buffers[name] || m.loading[name]) return;
    m.loading[name] = true;
    var url = 'music/' + name.replace(/\.mid$/i, '') + '.ogg';
    fetch(url).then(function (r) {
      if (!r.ok) throw new Error(url + ': ' + r.status);
      return r.arrayBuffer();
    }).then(function (bytes) {
      return ctx.decodeAudioData(bytes);
    }).then(function (buffer) {
      m.buffers[name] = buffer;
      // A play that began before the piece arrived joins it where it is.
      var want = m.want;
      if (want && want.name === name && !m.source) {
        var at = (performance.now() - want.startMs) / 1000;
        if (at < want.passes * buffer.duration) NUVEL.startMusic(name, want.passes, at);
      }
    }).catch(function (e) {
      delete m.loading[name];
      console.warn('music: ' + e);
    });
  },

  web_music_play__deps: ['$NUVEL', 'web_music_load'],
  web_music_play: function (namePtr, passes) {
    var name = UTF8ToString(namePtr), m = NUVEL.music;
    m.want = { name: name, passes: passes, startMs: performance.now() };
    if (m.buffers[name]) NUVEL.startMusic(name, passes, 0);
    else _web_music_load(namePtr);
  },

  web_music_stop__deps: ['$NUVEL'],
  web_music_stop: function () {
    var m = NUVEL.music;
    m.want = null;
    if (m.source) { try { m.source.stop(); } catch (e) {} m.source.disconnect(); m.source = null; }
  },

  web_music_level__deps: ['$NUVEL'],
  web_music_level: function (gain) {
    var m = NUVEL.music;
    m.level = gain;
    if (m.gain) m.gain.gain.value = gain;
  },

  // The game writes whole files at once; their copy to IndexedDB follows
  // within a tenth of a second, as one transaction for a burst of writes.
  web_file_changed__deps: ['$NUVEL'],
  web_file_changed: function (pathPtr, offer) {
    var path = UTF8ToString(pathPtr);
    clearTimeout(NUVEL.syncTimer);
    NUVEL.syncTimer = setTimeout(NUVEL.sync, 100);
    if (offer && Module.onDownload) {
      try { Module.onDownload(path, FS.readFile(path)); } catch (e) { console.warn('download: ' + e); }
    }
  },

  web_key_label: function (codePtr, out, size) {
    var code = UTF8ToString(codePtr), map = Module.keyboardLayout, label = '';
    if (map && map.get(code)) label = map.get(code);
    stringToUTF8(label, out, size);
  },
});
