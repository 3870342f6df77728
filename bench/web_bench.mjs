// The web page's frame time on SwiftShader's WebGL 2 in headless Chromium,
// with the bands at the page's default target and at 1000 ms (about one band a
// frame at small sizes), and how long the page's main thread was ever kept
// busy: its longest task and the longest gap between animation frames, from
// the end of the first frame on (the first holds the shader's build).
//   node web_bench.mjs NODE_MODULES CHROMIUM URL SIZE FRAMES [SCREENSHOT.png]
// With SCREENSHOT, the default bands alone, and the page as it ends.
import { createRequire } from 'node:module';
import path from 'node:path';

const [modules, chromium, url, size, frames, screenshot] = process.argv.slice(2);
const puppeteer = createRequire(path.join(path.resolve(modules), 'x.js'))('puppeteer-core');

async function run(browser, bandMs) {
  const page = await browser.newPage();
  await page.setViewport({ width: 960, height: 540 });
  await page.evaluateOnNewDocument(() => {
    window.benchTasks = [];
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) window.benchTasks.push([e.startTime, e.duration]);
    }).observe({ type: 'longtask', buffered: true });
    window.benchGaps = [];
    let last = 0;
    const tick = (t) => {
      if (last) window.benchGaps.push([t, t - last]);
      last = t;
      requestAnimationFrame(tick);
    };
    requestAnimationFrame(tick);
  });
  const lines = [];
  page.on('console', (m) => {
    const f = /^frame (\d+): (\d+) ms, (\d+) bands of (\d+) pixels on average, the longest ([\d.]+) ms/.exec(m.text());
    if (f) lines.push({ frame: +f[1], ms: +f[2], bands: +f[3], pixels: +f[4], longest: +f[5], at: 0 });
  });
  const query = `?size=${size}&frames=${frames}` + (bandMs ? `&band-ms=${bandMs}` : '');
  await page.goto(url + query);
  await page.waitForFunction(() => ['done', 'error'].includes(window.exegfx.state), { timeout: 0, polling: 200 });
  const state = await page.evaluate(() => ({ state: window.exegfx.state, error: window.exegfx.error }));
  if (state.state !== 'done') throw new Error(state.error);
  const busy = await page.evaluate(() => ({ tasks: window.benchTasks, gaps: window.benchGaps }));
  if (screenshot && !bandMs) await page.screenshot({ path: screenshot });
  await page.close();
  const steady = lines.filter((l) => l.frame > 1);
  const mean = (a) => a.reduce((s, x) => s + x, 0) / a.length;
  // Frame 1 ends at the first frame's report; the tasks before include the build.
  const startMs = busy.gaps.length ? busy.gaps[0][0] : 0;
  const firstEnd = startMs + lines[0].ms;
  const after = (list) => list.filter(([t]) => t > firstEnd).map(([, d]) => d);
  return {
    target: bandMs ? `${bandMs} ms` : 'default (20 ms)',
    msPerFrame: mean(steady.map((l) => l.ms)),
    firstMs: lines[0].ms,
    bands: mean(steady.map((l) => l.bands)),
    pixels: mean(steady.map((l) => l.pixels)),
    longestBand: Math.max(...steady.map((l) => l.longest)),
    typicalLongest: steady.map((l) => l.longest).sort((a, b) => a - b)[Math.floor(steady.length / 2)],
    longestTask: Math.max(0, ...after(busy.tasks)),
    longestGap: Math.max(0, ...after(busy.gaps)),
  };
}

const browser = await puppeteer.launch({
  executablePath: chromium, headless: true,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'],
});
try {
  const version = await browser.version();
  console.log(`${version}, SwiftShader WebGL 2, ${size}, ${frames} frames (the first left out of the means)`);
  console.log('band target     | ms/frame | first frame ms | bands/frame | pixels/band | ' +
              "longest band ms (median frame's / all) | longest task ms | longest rAF gap ms");
  // With a screenshot asked for, the default bands alone.
  for (const bandMs of screenshot ? [0] : [0, 1000]) {
    const r = await run(browser, bandMs);
    console.log(`${r.target.padEnd(15)} | ${r.msPerFrame.toFixed(0).padStart(8)} | ${String(r.firstMs).padStart(14)} | ` +
                `${r.bands.toFixed(1).padStart(11)} | ${r.pixels.toFixed(0).padStart(11)} | ` +
                `${(r.typicalLongest.toFixed(1) + ' / ' + r.longestBand.toFixed(1)).padStart(39)} | ` +
                `${r.longestTask.toFixed(0).padStart(15)} | ` +
                `${r.longestGap.toFixed(0).padStart(18)}`);
    if (!bandMs) console.log(`swiftshader_ms_per_frame=${r.msPerFrame.toFixed(0)}`);
  }
} finally {
  await browser.close();
}
