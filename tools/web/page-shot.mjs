// A picture of a program's page as Chromium shows it, for the README:
// the page at 880 x 560 (the canvas at twice its size), three seconds
// after it started.
//   node --experimental-websocket tools/web/page-shot.mjs WEB_BUILD PAGE OUT.png
import { writeFileSync } from "node:fs";
import { setTimeout as sleep } from "node:timers/promises";
import { launch, serve } from "./browser.mjs";

const [webBuild, pageName, out] = process.argv.slice(2);
if (!out) {
  console.error("usage: page-shot.mjs WEB_BUILD PAGE OUT.png");
  process.exit(2);
}
const server = await serve(webBuild);
const browser = await launch();
try {
  const page = await browser.page();
  await page.call("Emulation.setDeviceMetricsOverride", { width: 880, height: 560, deviceScaleFactor: 1, mobile: false });
  await page.navigate(`${server.url}/${pageName}?autostart`);
  await page.waitFor("window.kevo.frames > 0", 20000, "the first frame");
  await sleep(3000);
  const { data } = await page.call("Page.captureScreenshot", { format: "png" });
  writeFileSync(out, Buffer.from(data, "base64"));
} finally {
  await browser.close();
  server.stop();
}
