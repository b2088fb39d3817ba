// The browser build in a real browser: headless Chromium runs the pages of
// WEB_BUILD (make web) served from 127.0.0.1, and the native programs of
// NATIVE_BUILD give the references.
//   - the demo page's capture (?capture_frames=300): frames 1, 60 and 300
//     are the native capture's byte for byte (the framebuffer's indices,
//     from the native GIF capture), and its first 5 s of sound are
//     modrender's samples
//   - the showcase from 3:52 (?from=3:52&capture_frames=N): every frame the
//     native capture's, kicks and flashes included
//   - keys reach the programs: W and Space switch scene_viewer between
//     solid and wireframe, Escape ends a program with status 0
//   - the demo playing live: the heard position the page reads is within
//     20 ms of what the AudioContext is playing
//   - the sync_tracks page reaches a scripted sync editor over WebSocket
//     (?sync=ws://...): the greeting as text, one GET_TRACK message per
//     track in the order made, the rows as the music plays, none while the
//     editor has it paused
//   - no page logs an error
// and prints the figures: page weight (gzipped), time to the first frame,
// frame rate, main-thread busy share, heard-position error.
//
//   node --experimental-websocket tools/web/web-test.mjs WEB_BUILD NATIVE_BUILD
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { gzipSync } from "node:zlib";
import { setTimeout as sleep } from "node:timers/promises";
import { launch, serve } from "./browser.mjs";
import { syncEditor } from "./sync-editor.mjs";

const [webBuild, nativeBuild] = process.argv.slice(2).map((p) => resolve(p));
if (!webBuild || !nativeBuild) {
  console.error("usage: web-test.mjs WEB_BUILD NATIVE_BUILD");
  process.exit(2);
}
const top = resolve(new URL("../..", import.meta.url).pathname);
const work = mkdtempSync(join(tmpdir(), "kevo-web-test-"));
let failures = 0;
function check(ok, what) {
  console.log(`${ok ? "ok  " : "FAIL"} ${what}`);
  if (!ok) failures++;
}
const figure = (what) => console.log(`     ${what}`);

// The native program's capture of `frames` frames into a folder of
// `work`, or a file of it named `file`.
function nativeCapture(name, frames, env = {}, file = "") {
  const dir = join(work, file || `${name}-${frames}`);
  execFileSync(join(nativeBuild, name), [], {
    cwd: top, stdio: ["ignore", "ignore", "pipe"],
    env: { ...process.env, ...env, KEVO_CAPTURE: dir, KEVO_CAPTURE_FRAMES: String(frames) },
  });
  return dir;
}
// A native frame (1 = the first) as RGB bytes, decoded by ImageMagick.
function nativeFrame(dir, number) {
  const path = join(dir, `frame_${String(number - 1).padStart(6, "0")}.png`);
  return execFileSync("convert", [path, "-depth", "8", "rgb:-"], { maxBuffer: 1 << 24 });
}
// The frames of a GIF the native capture made (KEVO_CAPTURE=NAME.gif, at
// scale 1): the engine's indices, each frame's rectangle drawn over the
// frame before. GIF's LZW: codes from minimum size + 1 bits, a clear code,
// an end code, the table growing to 4096 entries.
function gifFrames(path) {
  const bytes = readFileSync(path);
  const width = bytes.readUInt16LE(6), height = bytes.readUInt16LE(8);
  let at = 13 + (bytes[10] & 0x80 ? 3 << ((bytes[10] & 7) + 1) : 0);
  const screen = new Uint8Array(width * height);
  const frames = [];
  const blocks = () => {
    const parts = [];
    for (let size = bytes[at++]; size > 0; size = bytes[at++]) {
      parts.push(bytes.subarray(at, at + size));
      at += size;
    }
    return Buffer.concat(parts);
  };
  while (at < bytes.length && bytes[at] !== 0x3b) {
    const kind = bytes[at++];
    if (kind === 0x21) {
      at++;
      blocks();
      continue;
    }
    if (kind !== 0x2c) throw new Error(`${path}: unexpected block 0x${kind.toString(16)} at ${at - 1}`);
    const left = bytes.readUInt16LE(at), top = bytes.readUInt16LE(at + 2);
    const w = bytes.readUInt16LE(at + 4), h = bytes.readUInt16LE(at + 6);
    if (bytes[at + 8] & 0xc0) throw new Error(`${path}: a local colour table or interlacing`);
    at += 9;
    const minimum = bytes[at++];
    const data = blocks();
    const clear = 1 << minimum, end = clear + 1;
    let size = minimum + 1, next = end + 1, previous = null, bit = 0, out = 0;
    const table = [];
    for (let i = 0; i < clear; i++) table[i] = [i];
    const pixels = new Uint8Array(w * h);
    while (bit + size <= data.length * 8 && out < pixels.length) {
      let code = 0;
      for (let i = 0; i < size; i++, bit++) code |= ((data[bit >> 3] >> (bit & 7)) & 1) << i;
      if (code === clear) {
        size = minimum + 1;
        next = end + 1;
        previous = null;
        continue;
      }
      if (code === end) break;
      const entry = code < next ? table[code] : [...table[previous], table[previous][0]];
      for (const value of entry) pixels[out++] = value;
      if (previous !== null && next < 4096) {
        table[next++] = [...table[previous], entry[0]];
        if (next === 1 << size && size < 12) size++;
      }
      previous = code;
    }
    for (let y = 0; y < h; y++) screen.set(pixels.subarray(y * w, y * w + w), (top + y) * width + left);
    frames.push(screen.slice());
  }
  return frames;
}
function wavSamples(path) {
  const bytes = readFileSync(path);
  return new Int16Array(bytes.buffer.slice(bytes.byteOffset + 44, bytes.byteOffset + bytes.length));
}

const server = await serve(webBuild);
const browser = await launch();
const pages = [];
async function open(path, options = {}) {
  const page = await browser.page();
  page.path = path;
  pages.push(page);
  if (options.beforeLoad) await page.call("Page.addScriptToEvaluateOnNewDocument", { source: options.beforeLoad });
  await page.navigate(`${server.url}/${path}`);
  return page;
}

// A page's capture: its frames' indices through the palette as RGB, and
// its sound.
async function webCapture(page) {
  await page.waitFor("window.kevo && window.kevo.capture && window.kevo.capture.done", 120000, `${page.path} to finish`);
  const palette = Buffer.from(await page.evaluate(
    "kevoBase64(new Uint8Array(Module.HEAPU8.buffer, Module._kevo_palette(), 1024).slice())"), "base64");
  const rgbOf = (indices) => {
    const rgb = Buffer.alloc(indices.length * 3);
    for (let i = 0; i < indices.length; i++) {
      // 0xRRGGBBAA, stored little-endian: AA BB GG RR.
      rgb[i * 3] = palette[indices[i] * 4 + 3];
      rgb[i * 3 + 1] = palette[indices[i] * 4 + 2];
      rgb[i * 3 + 2] = palette[indices[i] * 4 + 1];
    }
    return rgb;
  };
  const indices = async (number) => {
    const data = await page.evaluate(`kevoCaptureFrame(${number})`);
    return data === null ? null : Buffer.from(data, "base64");
  };
  return {
    count: await page.evaluate("window.kevo.capture.frames.length"),
    status: await page.evaluate("window.kevo.status"),
    indices,
    frame: async (number) => {
      const data = await indices(number);
      return data === null ? null : rgbOf(data);
    },
    audio: async (first, count) => {
      const bytes = Buffer.from(await page.evaluate(`kevoCaptureAudio(${first}, ${count})`), "base64");
      return new Int16Array(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
    },
  };
}
const sameBytes = (a, b) => a !== null && b !== null && a.length === b.length && Buffer.compare(Buffer.from(a.buffer ?? a), Buffer.from(b.buffer ?? b)) === 0;

try {
  // The demo's capture against the native capture and modrender.
  {
    const frames = 300;
    const page = await open(`demo.html?capture_frames=${frames}`);
    const web = await webCapture(page);
    check(web.status === 0 && web.count === frames, `demo page captured ${web.count} frames, status ${web.status}`);
    const native = nativeCapture("demo", frames, {}, "demo.gif");
    const nativeIndices = gifFrames(native);
    for (const number of [1, 60, 300]) {
      check(sameBytes(await web.indices(number), nativeIndices[number - 1]),
        `demo frame ${number}: the framebuffer's indices equal the native capture's`);
    }
    const seconds = 5, rate = 44100;
    const reference = join(work, "kevo-5s.wav");
    execFileSync(join(nativeBuild, "modrender"), ["--seconds", String(seconds), "res/kevo.mod", reference], { cwd: top, stdio: "ignore" });
    const expected = wavSamples(reference).subarray(0, seconds * rate * 2);
    const heard = await web.audio(0, seconds * rate);
    check(expected.length === seconds * rate * 2 && sameBytes(heard, expected),
      `the demo page's first ${seconds} s of sound are modrender's samples (${heard.length / 2} frames)`);
    await page.close();
  }

  // The showcase from 3:52 against the native capture. Its stars and
  // particles come from the C library's rand(), whose sequence differs
  // between glibc and the browser's musl: they stand elsewhere, the rest is
  // the same. So: every frame differs from the native one in under a tenth
  // of its pixels, and the flashes on the kicks (frames over twice the
  // median brightness) fall on the same frames.
  {
    const frames = 150;
    const page = await open(`showcase.html?from=3:52&capture_frames=${frames}`);
    const web = await webCapture(page);
    const native = nativeCapture("showcase", frames, { KEVO_FROM: "3:52" });
    const brightness = (rgb) => rgb.reduce((sum, value) => sum + value, 0) / rgb.length;
    const webLight = [], nativeLight = [];
    let worst = 0;
    for (let number = 1; number <= frames; number++) {
      const a = await web.frame(number), b = nativeFrame(native, number);
      let differ = 0;
      for (let i = 0; i < a.length; i += 3) if (a[i] !== b[i] || a[i + 1] !== b[i + 1] || a[i + 2] !== b[i + 2]) differ++;
      worst = Math.max(worst, differ);
      webLight.push(brightness(a));
      nativeLight.push(brightness(b));
    }
    const flashes = (light) => {
      const median = [...light].sort((x, y) => x - y)[light.length >> 1];
      return light.map((value, i) => (value > 2 * median ? i + 1 : 0)).filter((i) => i > 0).join(",");
    };
    check(web.status === 0 && web.count === frames && worst < 400 * 240 / 10,
      `showcase from 3:52: ${web.count} frames, each differing from the native capture's in at most ${worst} pixels (stars, particles)`);
    check(flashes(webLight) !== "" && flashes(webLight) === flashes(nativeLight),
      `showcase from 3:52 flashes on the same frames as natively (${flashes(webLight)} / ${flashes(nativeLight)})`);
    await page.close();
  }

  // Keys: scene_viewer's mode and Escape.
  {
    const page = await open("scene_viewer.html?autostart");
    const lit = `(() => { const c = document.getElementById("canvas").getContext("2d").getImageData(0, 0, 400, 240).data;
      let n = 0; for (let i = 0; i < c.length; i += 4) if (c[i] + c[i + 1] + c[i + 2] > 0) n++; return n; })()`;
    await page.waitFor("window.kevo.frames > 30", 20000, "scene_viewer's frames");
    const solid = await page.evaluate(lit);
    await page.key("w", "KeyW", 87);
    await page.waitFor(`window.kevo.frames > 60`, 20000);
    const wire = await page.evaluate(lit);
    await page.key(" ", "Space", 32);
    await page.waitFor(`window.kevo.frames > 90`, 20000);
    const back = await page.evaluate(lit);
    check(wire < solid * 0.6 && back > wire * 1.5, `scene_viewer: W shows the wireframe (${solid} -> ${wire} pixels lit), Space the solid model again (${back})`);
    await page.key("Escape", "Escape", 27);
    const ended = await page.waitFor("window.kevo.ended ? [window.kevo.status] : null", 10000, "Escape to end scene_viewer").catch(() => null);
    check(ended !== null && ended[0] === 0, `Escape ends scene_viewer with status 0 (${ended})`);
    await page.close();
  }

  // Every other page runs, shows its title, and ends on Escape.
  // The starter's window keeps the name of the demo it begins.
  for (const [name, expected] of [["particle_fountain", "particle_fountain"], ["text_showcase", "text_showcase"], ["starter", "demo"]]) {
    const page = await open(`${name}.html?autostart`);
    await page.waitFor("window.kevo.frames > 20", 20000, `${name}'s frames`);
    const title = await page.evaluate("document.title");
    await page.key("Escape", "Escape", 27);
    const ended = await page.waitFor("window.kevo.ended ? [window.kevo.status] : null", 10000, `Escape to end ${name}`).catch(() => null);
    check(ended !== null && ended[0] === 0 && title === expected, `${name} runs (title "${title}") and Escape ends it with status 0`);
    await page.close();
  }
  {
    const editor = await syncEditor();
    const page = await open(`sync_tracks.html?autostart&sync=ws://127.0.0.1:${editor.port}`);
    await page.waitFor("window.kevo.frames > 60", 20000, "sync_tracks' frames");
    const asked = editor.messages.filter((m) => m[0] === 2 && m.length === 5 + m.readUInt32BE(1));
    const names = asked.map((m) => m.subarray(5).toString()).join(" ");
    const rows = editor.messages.filter((m) => m[0] === 3 && m.length === 5).map((m) => m.readUInt32BE(1));
    check(editor.greeted && names === "scene cam:yaw cam:pitch cam:dist colour:hue colour:flash" && rows.length > 0 &&
      rows.every((row, i) => i === 0 || row > rows[i - 1]),
      `sync_tracks greets the editor over WebSocket, asks for its 6 tracks (${names}) and tells its rows (${rows.join(" ")})`);
    editor.send([4, 1]);
    editor.send([3, 0, 0, 1, 44]);
    await sleep(300);
    const told = editor.messages.length;
    await sleep(700);
    check(editor.messages.length === told, `paused by the editor, sync_tracks tells no rows (${editor.messages.length - told} more)`);
    await page.key("Escape", "Escape", 27);
    const ended = await page.waitFor("window.kevo.ended ? [window.kevo.status] : null", 10000, "Escape to end sync_tracks").catch(() => null);
    check(ended !== null && ended[0] === 0, `Escape ends sync_tracks with status 0 (${ended})`);
    await page.close();
    editor.close();
  }
  {
    const page = await open("index.html");
    const links = await page.evaluate("[...document.querySelectorAll('a')].map((a) => a.getAttribute('href')).join(' ')");
    const images = await page.evaluate("[...document.images].every((image) => image.complete && image.naturalWidth === 400)");
    check(links.includes("demo.html") && links.includes("showcase.html") && images, `the index links every page with its picture (${links})`);
    await page.close();
  }

  // The demo and the showcase live, with sound: the heard position, and the figures.
  // What the AudioContext plays, watched from outside the engine: every
  // buffer emscripten's SDL schedules, with its start on the context's clock.
  const watchAudio = `window.kevoScheduled = [];
    const watch = setInterval(() => {
      if (typeof SDL === "undefined") return;
      clearInterval(watch);
      let audio;
      Object.defineProperty(SDL, "audio", { configurable: true, get: () => audio, set: (value) => {
        audio = value;
        if (!value) return;
        let push;
        Object.defineProperty(value, "pushAudio", { configurable: true, get: () => push, set: (f) => {
          push = function (pointer, bytes) {
            f.call(this, pointer, bytes);
            if (!value.paused) kevoScheduled.push([value.nextPlayTime - value.bufferDurationSecs, bytes / 4]);
          };
        } });
      } });
    }, 0);`;
  const playing = `(() => {
    const now = SDL.audioContext.currentTime, rate = SDL.audio.freq;
    let before = 0, frame = null;
    for (const [start, frames] of kevoScheduled) {
      if (now >= start && now < start + frames / rate) frame = before + (now - start) * rate;
      before += frames;
    }
    return [Module._kevo_heard_frame(), frame];
  })()`;
  for (const name of ["demo", "showcase"]) {
    const weight = ["wasm", "js", "data"].reduce((sum, kind) => sum + gzipSync(readFileSync(join(webBuild, `${name}.${kind}`))).length, 0);
    figure(`${name}: page weight ${(weight / 1024).toFixed(0)} KiB gzipped (wasm + js + data)`);
    const page = await open(`${name}.html?autostart`, { beforeLoad: watchAudio });
    await page.waitFor("window.kevo.frames > 0", 20000, `${name}'s first frame`);
    const first = await page.evaluate("window.kevo.firstFrameMs");
    await sleep(1500);
    const metric = async () => Object.fromEntries((await page.call("Performance.getMetrics")).metrics.map((m) => [m.name, m.value]));
    const before = await metric();
    const framesBefore = await page.evaluate("window.kevo.frames");
    const t0 = Date.now();
    let worst = 0, samples = 0;
    while (Date.now() - t0 < 4000) {
      const [heard, played] = await page.evaluate(playing);
      if (heard >= 0 && played !== null) {
        worst = Math.max(worst, Math.abs(heard - played) / 44.1);
        samples++;
      }
      await sleep(37);
    }
    const after = await metric();
    const framesAfter = await page.evaluate("window.kevo.frames");
    const wall = (after.Timestamp - before.Timestamp);
    figure(`${name}: first frame ${first.toFixed(0)} ms after navigation; ${((framesAfter - framesBefore) / wall).toFixed(1)} frames a second; ` +
      `main thread busy ${(100 * (after.TaskDuration - before.TaskDuration) / wall).toFixed(1)}%`);
    check(samples > 20 && worst <= 20, `${name}: the heard position is within 20 ms of what the AudioContext plays (worst ${worst.toFixed(1)} ms over ${samples} readings)`);
    await page.close();
  }

  // A clear message instead of a blank page: without WebAssembly or Web
  // Audio, and when the program's data cannot be fetched.
  {
    const message = "!document.getElementById('message').hidden && document.getElementById('message').textContent";
    const bare = await open("demo.html?autostart", { beforeLoad: "delete window.WebAssembly;" });
    const said = await bare.waitFor(message, 10000, "the message").catch(() => "");
    check(/WebAssembly/.test(said), `without WebAssembly the page says so ("${said}")`);
    await bare.close();
    const mute = await open("demo.html?autostart", { beforeLoad: "delete window.AudioContext; delete window.webkitAudioContext;" });
    const silent = await mute.waitFor(message, 10000, "the message").catch(() => "");
    check(/Web Audio/.test(silent), `without Web Audio the page says so ("${silent}")`);
    await mute.close();
    const page = await browser.page();
    await page.call("Fetch.enable", { patterns: [{ urlPattern: "*demo.data*" }] });
    page.on((method, params) => {
      if (method === "Fetch.requestPaused") page.call("Fetch.failRequest", { requestId: params.requestId, errorReason: "ConnectionRefused" });
    });
    await page.navigate(`${server.url}/demo.html?autostart`);
    const failed = await page.waitFor(message, 10000, "the message").catch(() => "");
    check(/demo\.data/.test(failed), `when demo.data cannot be fetched the page says so ("${failed}")`);
    await page.close();
  }

  for (const page of pages) check(page.errors.length === 0, `${page.path} logged no error${page.errors.length ? ": " + page.errors.join(" | ") : ""}`);
} catch (error) {
  check(false, String(error.stack ?? error));
} finally {
  await browser.close();
  server.stop();
  rmSync(work, { recursive: true, force: true });
}
console.log(failures === 0 ? "web-test: all passed" : `web-test: ${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
