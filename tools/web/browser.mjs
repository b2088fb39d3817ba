// Headless Chromium driven over its DevTools protocol, with no npm package:
// node's own WebSocket client (node 20: --experimental-websocket) on the
// browser's endpoint, one flattened session per page. For the browser
// build's test (web-test.mjs).
import { spawn } from "node:child_process";
import { mkdtempSync, readFileSync, existsSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { setTimeout as sleep } from "node:timers/promises";

// Starts a command and resolves with the first line of its output that
// `pattern` matches (the match), or rejects after `ms`.
function startUntil(command, args, pattern, ms) {
  const child = spawn(command, args, { stdio: ["ignore", "pipe", "pipe"] });
  return new Promise((resolve, reject) => {
    let text = "";
    const timer = setTimeout(() => reject(new Error(`${command} did not start: ${text.slice(-400)}`)), ms);
    const look = (chunk) => {
      text += chunk;
      const match = text.match(pattern);
      if (match) {
        clearTimeout(timer);
        resolve({ child, match });
      }
    };
    child.stdout.on("data", look);
    child.stderr.on("data", look);
    child.on("exit", (code) => reject(new Error(`${command} exited with ${code}: ${text.slice(-400)}`)));
  });
}

// Serves the pages of `dir` on 127.0.0.1 (a free port) as make web-serve
// does (serve.py); { url, stop }.
export async function serve(dir) {
  const { child, match } = await startUntil("python3", [join(dirname(fileURLToPath(import.meta.url)), "serve.py"), dir, "0"],
    /(http:\/\/127\.0\.0\.1:\d+)\//, 10000);
  child.stderr.resume();
  child.stdout.resume();
  return { url: match[1], stop: () => child.kill() };
}

export async function launch() {
  const profile = mkdtempSync(join(tmpdir(), "kevo-chromium-"));
  const chromium = spawn("chromium", [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required",
    "--remote-debugging-port=0", `--user-data-dir=${profile}`, "--window-size=1280,800",
    "--no-first-run", "--no-default-browser-check", "about:blank",
  ], { stdio: "ignore", detached: true });
  const portFile = join(profile, "DevToolsActivePort");
  for (let i = 0; i < 200 && !existsSync(portFile); i++) await sleep(50);
  if (!existsSync(portFile)) throw new Error("chromium did not open its DevTools port");
  await sleep(50);
  const [port, path] = readFileSync(portFile, "utf8").trim().split("\n");
  const socket = new WebSocket(`ws://127.0.0.1:${port}${path}`);
  await new Promise((resolve, reject) => {
    socket.addEventListener("open", resolve, { once: true });
    socket.addEventListener("error", () => reject(new Error("cannot reach chromium's DevTools")), { once: true });
  });
  let nextId = 1;
  const waiting = new Map();
  const listeners = new Map();  // sessionId -> (method, params) => void
  socket.addEventListener("message", (event) => {
    const message = JSON.parse(event.data);
    if (message.id && waiting.has(message.id)) {
      const { resolve, reject, method } = waiting.get(message.id);
      waiting.delete(message.id);
      if (message.error) reject(new Error(`${method}: ${message.error.message}`));
      else resolve(message.result);
    } else if (message.method && listeners.has(message.sessionId)) {
      listeners.get(message.sessionId)(message.method, message.params);
    }
  });
  function send(method, params = {}, sessionId = undefined) {
    const id = nextId++;
    socket.send(JSON.stringify({ id, method, params, sessionId }));
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject, method }));
  }

  // A new page: its session's send, evaluate, the errors it logged, close.
  async function page() {
    const { targetId } = await send("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await send("Target.attachToTarget", { targetId, flatten: true });
    const errors = [];
    const log = [];  // everything the page wrote on its console
    const handlers = [];
    listeners.set(sessionId, (method, params) => {
      if (method === "Runtime.exceptionThrown") errors.push(params.exceptionDetails.exception?.description ?? params.exceptionDetails.text);
      if (method === "Runtime.consoleAPICalled") log.push(`${params.type}: ${params.args.map((a) => a.value ?? a.description).join(" ")}`);
      if (method === "Runtime.consoleAPICalled" && params.type === "error")
        errors.push(params.args.map((a) => a.value ?? a.description).join(" "));
      if (method === "Log.entryAdded" && params.entry.level === "error") errors.push(`${params.entry.text} ${params.entry.url ?? ""}`);
      for (const handler of handlers) handler(method, params);
    });
    const call = (method, params) => send(method, params, sessionId);
    await call("Runtime.enable");
    await call("Log.enable");
    await call("Page.enable");
    await call("Performance.enable");
    async function evaluate(expression) {
      const result = await call("Runtime.evaluate", { expression, returnByValue: true, awaitPromise: true });
      if (result.exceptionDetails) throw new Error(`${expression}: ${result.exceptionDetails.exception?.description ?? result.exceptionDetails.text}`);
      return result.result.value;
    }
    // Polls `expression` until it is truthy; a page too busy to answer
    // times out as well.
    async function waitFor(expression, ms, what) {
      const end = Date.now() + ms;
      const late = () => new Error(`timed out after ${ms} ms waiting for ${what ?? expression}`);
      for (;;) {
        let timer;
        const deadline = new Promise((_, reject) => (timer = setTimeout(() => reject(late()), Math.max(0, end - Date.now()))));
        const value = await Promise.race([evaluate(expression), deadline]).finally(() => clearTimeout(timer));
        if (value) return value;
        if (Date.now() > end) throw late();
        await sleep(25);
      }
    }
    async function key(key, code, keyCode) {
      for (const type of ["keyDown", "keyUp"])
        await call("Input.dispatchKeyEvent", { type, key, code, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode,
          text: type === "keyDown" && key.length === 1 ? key : undefined });
    }
    async function navigate(url) {
      const loaded = new Promise((resolve) => handlers.push((method) => method === "Page.loadEventFired" && resolve()));
      await call("Page.navigate", { url });
      await loaded;
    }
    const on = (handler) => handlers.push(handler);
    return { call, evaluate, waitFor, key, navigate, on, errors, log, close: () => send("Target.closeTarget", { targetId }) };
  }

  async function close() {
    socket.close();
    // The whole process group: the browser and its renderers.
    const exited = new Promise((resolve) => chromium.exitCode !== null ? resolve() : chromium.on("exit", resolve));
    try { process.kill(-chromium.pid, "SIGTERM"); } catch { /* already gone */ }
    await exited;
    await sleep(200);
    rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  }
  return { page, close };
}
