// The page around one program of the engine built for the browser (make
// web): loads NAME.js (with its .wasm and its preloaded .data) after a
// click, which also lets the sound start; fits the canvas to the window at
// a whole scale; full screen on the button, F or Alt-Enter; the frame-rate
// line; one clear message instead of a blank page when WebAssembly or Web
// Audio is missing, a file fails to load or the program stops on an error.
//
// The query takes the settings a native program takes from its
// environment and command line:
//   capture_frames=N  a capture (KEVO_CAPTURE): N frames on the virtual
//                     clock, each frame's indices and the sound kept in
//                     window.kevo.capture for whoever drives the page
//   from=ORDER:ROW    KEVO_FROM, the music from that row
//   music=PATH        KEVO_MUSIC, another module among the preloaded files
//   sync=ws://HOST:PORT  KEVO_SYNC, the sync editor's WebSocket (port 1339)
//   args=A B ...      the program's arguments
//   autostart         start without the click (where sound needs none)
//
// window.kevo tells how the program is doing: started, frames (presented),
// firstFrameMs (from navigation), rate, ended and status (once the program
// has really ended: its exit() or main's return), errors.
"use strict";

function kevoPage(name) {
  const query = new URLSearchParams(location.search);
  const stage = document.getElementById("stage");
  const canvas = document.getElementById("canvas");
  const start = document.getElementById("start");
  const message = document.getElementById("message");
  const rate = document.getElementById("rate");
  const state = (window.kevo = {
    name, started: false, frames: 0, firstFrameMs: null, rate: 0, ended: false, status: null, errors: [],
    capture: null,
  });

  // The first failure is the one shown: what follows from it (the
  // runtime's own aborts) goes to window.kevo.errors only.
  function fail(text) {
    state.errors.push(text);
    if (!message.hidden) return;
    message.textContent = text;
    message.hidden = false;
    start.hidden = true;
  }
  window.addEventListener("error", (event) => fail(name + " stopped: " + (event.message || "a file did not load")));
  window.addEventListener("unhandledrejection", (event) => fail(name + " stopped: " + event.reason));

  if (typeof WebAssembly !== "object" || typeof WebAssembly.instantiate !== "function") {
    fail("This page needs WebAssembly, which this browser does not offer.");
    return;
  }
  if (!(window.AudioContext || window.webkitAudioContext)) {
    fail("This page needs Web Audio, which this browser does not offer.");
    return;
  }

  // The largest whole scale at which 400 x 240 fits the stage (over the
  // size emscripten's SDL gives the canvas when the program sets its mode).
  function fit() {
    const k = Math.max(1, Math.floor(Math.min(stage.clientWidth / 400, stage.clientHeight / 240)));
    canvas.style.setProperty("width", 400 * k + "px", "important");
    canvas.style.setProperty("height", 240 * k + "px", "important");
  }
  window.addEventListener("resize", fit);
  document.addEventListener("fullscreenchange", fit);
  fit();

  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen();
    else if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
  }
  document.getElementById("fullscreen").addEventListener("click", toggleFullscreen);
  document.addEventListener("keydown", (event) => {
    const f = (event.key === "f" || event.key === "F") && !event.ctrlKey && !event.metaKey && !event.altKey;
    if (f || (event.key === "Enter" && event.altKey)) toggleFullscreen();
  }, true);

  const env = {};
  const frames = query.get("capture_frames");
  if (frames !== null) {
    env.KEVO_CAPTURE = "page";
    env.KEVO_CAPTURE_FRAMES = frames;
    state.capture = { frames: [], audio: null, done: false };
  }
  if (query.get("from") !== null) env.KEVO_FROM = query.get("from");
  if (query.get("music") !== null) env.KEVO_MUSIC = query.get("music");
  if (query.get("sync") !== null) env.KEVO_SYNC = query.get("sync");
  const args = (query.get("args") || "").split(" ").filter((arg) => arg !== "");

  function ended(status) {
    if (state.ended) return;
    state.ended = true;
    state.status = status;
    if (state.capture) {
      // The capture's sound, as its WAV file holds it (44-byte header).
      try {
        const wav = window.Module.FS.readFile("page/audio.wav");
        state.capture.audio = new Int16Array(wav.buffer.slice(wav.byteOffset + 44, wav.byteOffset + wav.byteLength));
      } catch (error) {
        fail("The capture's sound could not be read: " + error);
      }
      state.capture.done = true;
    }
    rate.textContent = name + " has ended" + (status !== 0 ? " with status " + status : "");
    if (status !== 0) fail(name + " ended with status " + status + " (see the console)");
  }

  // How the program ends. The frame loops wait by unwinding main with
  // ASYNCIFY, and emscripten takes the first such wait for main's return:
  // it calls quit(0) then. So a quit while main waits (Asyncify holds its
  // stack) is not the end; one while main runs is an exit() with its
  // status, and main's own return comes out of the rewind that resumed it
  // for the last time, with main's return value.
  const mainWaits = () => typeof Asyncify !== "undefined" && Asyncify.currData;
  function watchMainsReturn() {
    if (typeof Asyncify === "undefined") return;
    const rewind = Asyncify.doRewind;
    Asyncify.doRewind = (data) => {
      const status = rewind(data);
      if (!mainWaits()) ended(status);
      return status;
    };
  }

  // The rate line: frames shown over the last half second or so.
  let shownAt = 0, shownFrames = 0;
  window.Module = {
    canvas,
    arguments: args,
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
    preRun: [() => {
      Object.assign(window.Module.ENV, env);
      watchMainsReturn();
    }],
    onAbort: (what) => fail(name + " stopped: " + what),
    // Called as the runtime exits (see above); it then throws what it is
    // given.
    quit: (status, toThrow) => {
      if (!mainWaits()) ended(status);
      throw toThrow;
    },
    // The program's code, fetched here so that a file missing, empty or
    // not WebAssembly is one clear line naming it.
    instantiateWasm: (imports, receive) => {
      fetch(name + ".wasm")
        .then((response) => {
          if (!response.ok) throw new Error("the server answered " + response.status + " " + response.statusText);
          return response.arrayBuffer();
        })
        .then((bytes) => {
          if (bytes.byteLength === 0) throw new Error("the file is empty");
          return WebAssembly.instantiate(bytes, imports);
        })
        .then((result) => receive(result.instance, result.module),
          (error) => fail("Could not load " + name + ".wasm: " + (error.message || error)));
      return {};
    },
    // Called after each frame is shown, with the rate from the last frame.
    kevoRate: (framesPerSecond) => {
      if (state.ended) return;
      const now = performance.now();
      if (state.frames++ === 0) {
        state.firstFrameMs = now;
        shownAt = now;
        fit();  // setting the video mode cleared the canvas's size
      }
      state.rate = framesPerSecond;
      if (now - shownAt >= 500) {
        rate.textContent = "FPS: " + ((1000 * (state.frames - shownFrames)) / (now - shownAt)).toFixed(1);
        shownAt = now;
        shownFrames = state.frames;
      }
    },
    kevoCaptureFrame: (indices) => state.capture && state.capture.frames.push(indices),
  };

  function run() {
    if (state.started) return;
    state.started = true;
    start.hidden = true;
    canvas.focus();
    const script = document.createElement("script");
    script.src = name + ".js";
    script.onerror = () => fail("Could not load " + name + ".js");
    document.body.appendChild(script);
  }
  start.addEventListener("click", run);
  start.addEventListener("keydown", (event) => {
    if (event.key === "Enter" || event.key === " ") run();
  });
  if (query.has("autostart") || state.capture) run();
}

// For tests and tools: a captured frame (1 = the first) or a run of the
// captured sound (stereo frames from `first`) as base64.
function kevoBase64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}
function kevoCaptureFrame(number) {
  const frame = window.kevo.capture.frames[number - 1];
  return frame ? kevoBase64(frame) : null;
}
function kevoCaptureAudio(first, count) {
  const part = window.kevo.capture.audio.subarray(first * 2, (first + count) * 2);
  return kevoBase64(new Uint8Array(part.buffer, part.byteOffset, part.byteLength));
}
