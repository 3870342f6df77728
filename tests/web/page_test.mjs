// The web page in a real headless Chromium (software WebGL 2 through
// SwiftShader), served from 127.0.0.1 by the calling script.
//   node page_test.mjs NODE_MODULES CHROMIUM URL WORKDIR SIZE FRAMES
// Renders FRAMES frames at SIZE, saves the float mean (page_mean.f32 and
// page.json), the page's "Save PNG" download (page.png) and a screenshot for
// picture_check; then a lost and restored context, bad addresses, the Size
// field, and browsers without float render targets or WebGL 2. Exits 1 on the first failure.
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const [modules, chromium, url, work, size, frames] = process.argv.slice(2);
const puppeteer = createRequire(path.join(path.resolve(modules), 'x.js'))('puppeteer-core');

// SwiftShader's WebGL 2; no look-ups of Google's hosts.
const flags = ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
               '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1'];

function check(ok, what) {
  if (!ok) throw new Error(what);
  console.log('ok: ' + what);
}

async function launch(extra = []) {
  return puppeteer.launch({ executablePath: chromium, headless: true, args: [...flags, ...extra] });
}

async function open(browser, query, before) {
  const page = await browser.newPage();
  if (before) await page.evaluateOnNewDocument(before);
  await page.setViewport({ width: 960, height: 540 });
  page.on('console', (m) => console.log('  page: ' + m.text()));
  page.on('pageerror', (e) => console.log('  page error: ' + e.message));
  await page.goto(url + query);
  return page;
}

async function waitState(page, states, seconds) {
  await page.waitForFunction((s) => s.includes(window.exegfx.state), { timeout: seconds * 1000, polling: 100 },
                             states);
  return page.evaluate(() => ({ ...window.exegfx, mean: undefined }));
}

async function samePicture(browser) {
  const page = await open(browser, `?size=${size}&frames=${frames}`);
  const state = await waitState(page, ['done', 'error'], 240);
  check(state.state === 'done' && state.frames === Number(frames), `${frames} frames at ${size} rendered`);
  const status = await page.$eval('#status', (e) => e.textContent);
  check(status.includes(`${frames} / ${frames} frames`) && status.includes(size.replace('x', ' × ')) &&
        /fps/.test(status), `the overlay shows frames, fps, time and size: "${status}"`);
  const mean = await page.evaluate(() => {
    const m = window.exegfx.mean();
    return { width: m.width, height: m.height, frames: m.frames, rgb: Array.from(m.rgb) };
  });
  check(mean.frames === Number(frames) && mean.width * mean.height * 3 === mean.rgb.length,
        `window.exegfx.mean() gives the mean of ${mean.frames} frames`);
  fs.writeFileSync(path.join(work, 'page_mean.f32'), Buffer.from(new Float32Array(mean.rgb).buffer));
  fs.writeFileSync(path.join(work, 'page.json'),
                   JSON.stringify({ width: mean.width, height: mean.height, frames: mean.frames }));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: work });
  await page.click('#save');
  const png = path.join(work, `exegfx-${size}-${frames}frames.png`);
  for (let t = 0; t < 100 && !fs.existsSync(png); ++t) await new Promise((r) => setTimeout(r, 100));
  check(fs.existsSync(png), 'Save PNG downloads ' + path.basename(png));
  fs.renameSync(png, path.join(work, 'page.png'));
  // The picture as shown, without the overlay, for picture_check to hold
  // against the saved PNG.
  await page.$eval('#overlay', (e) => { e.hidden = true; });
  await page.screenshot({ path: path.join(work, 'page_screenshot.png') });
  await page.$eval('#overlay', (e) => { e.hidden = false; });
  await page.click('#fullscreen');
  await page.waitForFunction(() => document.fullscreenElement?.id === 'page', { timeout: 5000 });
  await page.keyboard.press('f');
  await page.waitForFunction(() => !document.fullscreenElement, { timeout: 5000 });
  check(true, 'the Fullscreen button and the F key show the page fullscreen and back');
  await page.close();
}

// Without timer queries (as in browsers that leave them out), so the bands
// are timed by their fences.
function hideTimerQueries() {
  const name = 'EXT_disjoint_timer_query_webgl2';
  const proto = WebGL2RenderingContext.prototype;
  const get = proto.getExtension, list = proto.getSupportedExtensions;
  proto.getExtension = function (n) { return n === name ? null : get.call(this, n); };
  proto.getSupportedExtensions = function () { return list.call(this).filter((n) => n !== name); };
}

async function lostContext(browser) {
  const page = await open(browser, '?size=48x27&frames=3', hideTimerQueries);
  await waitState(page, ['done', 'error'], 120);
  // The extension object outlives the context it takes away.
  await page.evaluate(() => {
    window.loser = document.getElementById('canvas').getContext('webgl2').getExtension('WEBGL_lose_context');
    window.loser.loseContext();
  });
  const lost = await waitState(page, ['lost'], 30);
  const notice = await page.$eval('#notice', (e) => (e.hidden ? '' : e.textContent));
  const saveOff = await page.$eval('#save', (e) => e.disabled);
  check(lost.state === 'lost' && /GPU/.test(notice) && saveOff,
        `a lost context is said in the page, with nothing to save: "${notice}"`);
  await page.evaluate(() => window.loser.restoreContext());
  const again = await waitState(page, ['done', 'error'], 120);
  check(again.state === 'done' && again.frames === 3, 'a restored context renders the picture again');
  await page.close();
}

async function badAddresses(browser) {
  for (const [query, expect] of [['?size=960', /size wants WIDTHxHEIGHT/], ['?size=0x10', /at least 1/],
                                 ['?frames=-3', /frames wants/], ['?size=99999x99999', /at most/],
                                 ['?size=16x9%00junk', /NUL/], ['?size=16x9&size=32x18', /given 2 times/],
                                 [`?size=${'9'.repeat(5000)}`, /5000 characters long/]]) {
    const page = await open(browser, query);
    const state = await waitState(page, ['error', 'rendering', 'done'], 60);
    const hidden = await page.$eval('#canvas', (e) => e.hidden);
    const fits = await page.$eval('#message', (e) => {
      const r = e.getBoundingClientRect();
      return e.scrollWidth <= e.clientWidth && r.left >= 0 && r.right <= window.innerWidth &&
             r.top >= 0 && r.bottom <= window.innerHeight;
    });
    check(state.state === 'error' && expect.test(state.error) && hidden && fits,
          `${query.slice(0, 40)} is refused in the page, in its box: "${state.error}"`);
    await page.close();
  }
}

// A size typed in the field and applied renders at that size, the other
// settings kept; a bad size in the address stays in the field to be mended.
async function sizeField(browser) {
  const page = await open(browser, '?size=960&frames=2');
  await waitState(page, ['error', 'rendering', 'done'], 60);
  check(await page.$eval('#size', (e) => e.value) === '960', 'a bad size stays in the field');
  await page.$eval('#size', (e) => { e.value = ' 32x18 '; });
  await Promise.all([page.waitForNavigation(), page.click('#controls button')]);
  const state = await waitState(page, ['done', 'error'], 120);
  const query = new URL(page.url()).search;
  check(state.state === 'done' && state.width === 32 && state.height === 18 && state.frames === 2 &&
        query === '?size=32x18&frames=2', `Apply renders the typed size: ${query}`);
  await page.close();
}

// A WebGL 2 that cannot render into float textures, as some phones'.
function hideFloatTargets() {
  const name = 'EXT_color_buffer_float';
  const proto = WebGL2RenderingContext.prototype;
  const get = proto.getExtension, list = proto.getSupportedExtensions;
  proto.getExtension = function (n) { return n === name ? null : get.call(this, n); };
  proto.getSupportedExtensions = function () { return list.call(this).filter((n) => n !== name); };
}

async function withoutFloatTargets(browser) {
  const page = await open(browser, '?size=48x27&frames=1', hideFloatTargets);
  const state = await waitState(page, ['error', 'rendering', 'done'], 60);
  const shown = await page.$eval('#message', (e) => (e.hidden ? '' : e.textContent));
  check(state.state === 'error' && /32-bit float textures/.test(shown),
        `without float render targets the page says so: "${shown}"`);
  await page.close();
}

async function withoutWebgl2() {
  const browser = await launch(['--disable-webgl2']);
  try {
    const page = await open(browser, '?size=48x27&frames=1');
    const state = await waitState(page, ['error', 'rendering', 'done'], 60);
    const shown = await page.$eval('#message', (e) => (e.hidden ? '' : e.textContent));
    const hidden = await page.$eval('#canvas', (e) => e.hidden);
    check(state.state === 'error' && /WebGL 2/.test(shown) && hidden,
          `without WebGL 2 the page says so: "${shown}"`);
  } finally {
    await browser.close();
  }
}

const browser = await launch();
try {
  await samePicture(browser);
  await lostContext(browser);
  await badAddresses(browser);
  await sizeField(browser);
  await withoutFloatTargets(browser);
  await withoutWebgl2();
  console.log('PASS: the page in headless Chromium');
} catch (e) {
  console.log('FAIL: ' + e.message);
  process.exitCode = 1;
} finally {
  await browser.close();
}
