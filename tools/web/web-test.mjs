// The browser build in a real browser: headless Chromium runs the pages of
// WEB_BUILD (make web) served from 127.0.0.1, and the native programs of
// NATIVE_BUILD give the references.
//   - the demo page's capture (?capture_frames=300): frames 1, 60 and 300
//     are the native capture's byte for byte (the framebuffer's indices,
//     from the native GIF capture), and its first 5 s of sound are
//     modrender's samples
//   - the showcase from 3:52 (?from=3:52&capture_frames=N): every frame the
//     native capture's byte for byte, rand()'s stars and particles, kicks
//     and flashes included
//   - keys reach the programs: W and Space switch scene_viewer between
//     solid and wireframe, Escape ends a program with status 0; the page
//     knows a program's real end: not while it runs, --frames N after N
//     frames with status 0, a --shot it cannot write with status 1
//   - the demo and the showcase playing live: the heard position the page
//     reads is within 20 ms of the sound the AudioContext puts out, as
//     recorded at its destination and found in modrender's samples
//   - one clear line when a file is missing (the data, the code, or empty
//     code); the server serves the pages and their files only and says in
//     one line when its port is in use
//   - the sync_tracks page reaches a scripted sync editor over WebSocket
//     (?sync=ws://...): the greeting as text, one GET_TRACK message per
//     track in the order made, the rows as the music plays, none while the
//     editor has it paused
//   - no page logs an error
// and prints the figures: page weight (gzipped), time to the first frame,
// frame rate, main-thread busy share, heard-position error.
//
//   node --experimental-websocket tools/web/web-test.mjs WEB_BUILD NATIVE_BUILD
import { execFileSync, spawnSync } from "node:child_process";
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

// A page's capture: its frames' indices, and its sound.
async function webCapture(page) {
  await page.waitFor("window.kevo && window.kevo.capture && window.kevo.capture.done", 120000, `${page.path} to finish`);
  return {
    count: await page.evaluate("window.kevo.capture.frames.length"),
    status: await page.evaluate("window.kevo.status"),
    indices: async (number) => {
      const data = await page.evaluate(`kevoCaptureFrame(${number})`);
      return data === null ? null : Buffer.from(data, "base64");
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

  // The showcase from 3:52 against the native capture: every frame's
  // indices, the stars and particles of rand() included (the browser
  // build's rand() is glibc's), and the flashes on the kicks.
  {
    const frames = 150;
    const page = await open(`showcase.html?from=3:52&capture_frames=${frames}`);
    const web = await webCapture(page);
    const nativeIndices = gifFrames(nativeCapture("showcase", frames, { KEVO_FROM: "3:52" }, "showcase.gif"));
    let same = 0;
    for (let number = 1; number <= frames; number++) same += sameBytes(await web.indices(number), nativeIndices[number - 1]);
    check(web.status === 0 && web.count === frames && same === frames,
      `showcase from 3:52: ${same} of ${frames} frames equal the native capture's byte for byte (status ${web.status})`);
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
    check(!(await page.evaluate("window.kevo.ended")), "scene_viewer has not ended while it runs");
    await page.key("Escape", "Escape", 27);
    const ended = await page.waitFor("window.kevo.ended ? [window.kevo.status] : null", 10000, "Escape to end scene_viewer").catch(() => null);
    check(ended !== null && ended[0] === 0, `Escape ends scene_viewer with status 0 (${ended})`);
    await page.close();
  }

  // --frames N ends a program after N frames with status 0; a --shot it
  // cannot write (no PNG in the browser) with status 1, as natively, and
  // the page says so. The rate line then says it has ended.
  for (const [args, status] of [["--frames 40", 0], ["--frames 20 --shot x.png", 1]]) {
    const page = await open(`scene_viewer.html?autostart&args=${encodeURIComponent(args)}`);
    const ended = await page.waitFor("window.kevo.ended ? [window.kevo.status, window.kevo.frames] : null", 20000,
      `scene_viewer ${args} to end`).catch(() => null);
    const line = await page.evaluate("document.getElementById('rate').textContent");
    const said = await page.evaluate("document.getElementById('message').hidden ? '' : document.getElementById('message').textContent");
    const frames = Number(args.split(" ")[1]);
    check(ended !== null && ended[0] === status && ended[1] === frames && line.startsWith("scene_viewer has ended") &&
      said === (status ? `scene_viewer ended with status ${status} (see the console)` : ""),
      `scene_viewer ${args} ends after ${frames} frames with status ${status} (${ended}; "${line}"; "${said}")`);
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
  // The reference is what the AudioContext puts out, recorded at its
  // destination: a worklet beside it takes every source connected there and
  // hands over each 128-frame quantum with the context frame it starts at.
  // Nothing of the engine's own reckoning (what it scheduled, when) enters.
  const recordAudio = `window.kevoRecording = { rate: 0, blocks: [] };
    (() => {
      const code = "registerProcessor('kevo-recorder', class extends AudioWorkletProcessor { process(inputs) {" +
        " const i = inputs[0]; this.port.postMessage([currentFrame, i.length ? i[0].slice() : null," +
        " i.length > 1 ? i[1].slice() : null]); return true; } });";
      const url = URL.createObjectURL(new Blob([code], { type: "text/javascript" }));
      const recorders = new Map();
      const connect = AudioNode.prototype.connect;
      AudioNode.prototype.connect = function (target, ...rest) {
        const result = connect.call(this, target, ...rest);
        if (target instanceof AudioDestinationNode && !(this instanceof AudioWorkletNode)) {
          const context = target.context;
          if (!recorders.has(context)) {
            recorders.set(context, null);
            context.audioWorklet.addModule(url).then(() => {
              const node = new AudioWorkletNode(context, "kevo-recorder", { channelCount: 2, channelCountMode: "explicit" });
              node.port.onmessage = (event) => kevoRecording.blocks.push(event.data);
              connect.call(node, context.destination);
              kevoRecording.rate = context.sampleRate;
              recorders.set(context, node);
            });
          }
          if (recorders.get(context)) connect.call(this, recorders.get(context));
        }
        return result;
      };
    })();`;
  // The recording as one run of left + right, from its first quantum.
  const recorded = `(() => {
    const blocks = kevoRecording.blocks, first = blocks[0][0];
    const sum = new Float32Array(blocks[blocks.length - 1][0] + 128 - first);
    for (const [frame, left, right] of blocks)
      if (left) for (let i = 0; i < 128; i++) sum[frame - first + i] = left[i] + right[i];
    return [kevoRecording.rate, first, kevoBase64(new Uint8Array(sum.buffer))];
  })()`;
  // modrender's samples of the song's first 10 s as left + right: the song
  // frame heard is where the recording before a reading fits them best.
  const songRate = 44100;
  execFileSync(join(nativeBuild, "modrender"), ["--seconds", "10", "res/kevo.mod", join(work, "kevo-10s.wav")],
    { cwd: top, stdio: "ignore" });
  const stereo = wavSamples(join(work, "kevo-10s.wav"));
  const song = new Float64Array(stereo.length / 2);
  for (let i = 0; i < song.length; i++) song[i] = (stereo[2 * i] + stereo[2 * i + 1]) / 32768;
  const songEnergy = new Float64Array(song.length + 1);  // prefix sums of squares
  for (let i = 0; i < song.length; i++) songEnergy[i + 1] = songEnergy[i] + song[i] * song[i];
  // The song frame the recording shows heard at context time `at`: the
  // last WINDOW frames before it (read at the song's rate) against the song
  // at every offset within SEARCH of `near`, by normalised correlation.
  // Null when the recording is silent or does not reach that far back.
  const WINDOW = 2048, SEARCH = 4410;
  function heardInRecording([rate, first, samples], at, near) {
    const window = new Float64Array(WINDOW);
    let energy = 0;
    for (let i = 0; i < WINDOW; i++) {
      const x = (at - (WINDOW - i) / songRate) * rate - first, k = Math.floor(x);
      if (k < 0 || k + 1 >= samples.length) return null;
      window[i] = samples[k] + (samples[k + 1] - samples[k]) * (x - k);
      energy += window[i] * window[i];
    }
    if (energy < 1e-3) return null;
    let best = -2, bestEnd = null;
    for (let end = Math.max(WINDOW, near - SEARCH); end <= Math.min(song.length, near + SEARCH); end++) {
      let dot = 0;
      for (let i = 0, j = end - WINDOW; i < WINDOW; i++, j++) dot += window[i] * song[j];
      const score = dot / Math.sqrt(energy * (songEnergy[end] - songEnergy[end - WINDOW]) + 1e-12);
      if (score > best) [best, bestEnd] = [score, end];
    }
    return best > 0.9 ? bestEnd : null;
  }
  for (const name of ["demo", "showcase"]) {
    const weight = ["wasm", "js", "data"].reduce((sum, kind) => sum + gzipSync(readFileSync(join(webBuild, `${name}.${kind}`))).length, 0);
    figure(`${name}: page weight ${(weight / 1024).toFixed(0)} KiB gzipped (wasm + js + data)`);
    const page = await open(`${name}.html?autostart`, { beforeLoad: recordAudio });
    await page.waitFor("window.kevo.frames > 0", 20000, `${name}'s first frame`);
    const first = await page.evaluate("window.kevo.firstFrameMs");
    await sleep(1500);
    const metric = async () => Object.fromEntries((await page.call("Performance.getMetrics")).metrics.map((m) => [m.name, m.value]));
    const before = await metric();
    const framesBefore = await page.evaluate("window.kevo.frames");
    const t0 = Date.now();
    const readings = [];
    while (Date.now() - t0 < 4000) {
      readings.push(await page.evaluate("[Module._kevo_heard_frame(), SDL.audioContext.currentTime]"));
      await sleep(97);
    }
    const after = await metric();
    const framesAfter = await page.evaluate("window.kevo.frames");
    const wall = (after.Timestamp - before.Timestamp);
    figure(`${name}: first frame ${first.toFixed(0)} ms after navigation; ${((framesAfter - framesBefore) / wall).toFixed(1)} frames a second; ` +
      `main thread busy ${(100 * (after.TaskDuration - before.TaskDuration) / wall).toFixed(1)}%`);
    await sleep(200);  // the last quanta's messages
    const [rate, start, data] = await page.evaluate(recorded);
    const bytes = Buffer.from(data, "base64");
    const recording = [rate, start, new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4)];
    let worst = 0, samples = 0;
    for (const [heard, at] of readings) {
      const played = heard >= 0 ? heardInRecording(recording, at, heard) : null;
      if (played === null) continue;
      worst = Math.max(worst, Math.abs(heard - played) / (songRate / 1000));
      samples++;
    }
    check(samples > 20 && worst <= 20, `${name}: the heard position is within 20 ms of the sound the AudioContext put out ` +
      `(recorded at ${rate} Hz; worst ${worst.toFixed(1)} ms over ${samples} of ${readings.length} readings)`);
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
    // The program's code missing or empty: one line naming the file.
    for (const [what, answer] of [["missing", { responseCode: 404 }], ["empty", { responseCode: 200, body: "" }]]) {
      const page = await browser.page();
      await page.call("Fetch.enable", { patterns: [{ urlPattern: "*demo.wasm*" }] });
      page.on((method, params) => {
        if (method === "Fetch.requestPaused") page.call("Fetch.fulfillRequest", { requestId: params.requestId, ...answer });
      });
      await page.navigate(`${server.url}/demo.html?autostart`);
      const said = await page.waitFor(message, 10000, "the message").catch(() => "");
      await sleep(500);  // anything the runtime might add
      const shown = await page.evaluate("document.getElementById('message').textContent");
      check(said.startsWith("Could not load demo.wasm: ") && shown === said && !said.includes("\n"),
        `with demo.wasm ${what} the page says so in one line ("${shown}")`);
      await page.close();
    }
  }

  // make web-serve's server: the pages and the files they load, nothing
  // else of the build folder, no listing; a port in use is one line and
  // status 1, before anything is announced.
  {
    const statusOf = async (path) => (await fetch(server.url + path)).status;
    const paths = ["/", "/demo.html", "/demo.wasm", "/page.css", "/shots/demo.png", "/CMakeCache.txt", "/CMakeFiles/",
      "/shots/", "/%2e%2e/Makefile", "/demo.html/../CMakeCache.txt"];
    const statuses = await Promise.all(paths.map(statusOf));
    check(statuses.join(" ") === "200 200 200 200 200 404 404 404 404 404",
      `the server serves the pages and their files only (${paths.map((p, i) => `${p} ${statuses[i]}`).join(", ")})`);
    const port = new URL(server.url).port;
    const second = spawnSync("python3", [join(top, "tools/web/serve.py"), webBuild, port], { encoding: "utf8", timeout: 10000 });
    check(second.status === 1 && second.stdout === "" &&
      second.stderr === `make web-serve: port ${port} is in use (another server?); PORT=${Number(port) + 1} make web-serve chooses another\n`,
      `a second server on port ${port} says it is in use, in one line, status ${second.status} ("${second.stderr.trim()}")`);
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
