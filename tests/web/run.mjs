// Replays key scripts in the page in headless chromium and compares each `png` line's picture,
// pixel for pixel, with the one the headless backend wrote for the same line.
// Usage: node run.mjs PAGE_DIR WORK_DIR CASE... where a CASE is SCRIPT:FILE_TO_OPEN_OR_-
// and WORK_DIR/ref/SCRIPT/NAME.png are the headless pictures. Each build's downloads land in
// WORK_DIR/downloads/threaded and WORK_DIR/downloads/single.
import { createServer } from 'node:http';
import { readFileSync, existsSync, mkdirSync, readdirSync } from 'node:fs';
import { join, extname, basename } from 'node:path';
import { inflateSync } from 'node:zlib';
import puppeteer from 'puppeteer-core';

const [pageDir, workDir, ...cases] = process.argv.slice(2);

// Each build is served as a host would: the threaded one with the two isolation headers its
// shared memory needs, the single-threaded one by a plain server without them.
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.data': 'application/octet-stream' };
async function serve(isolated) {
  const server = createServer((request, response) => {
    const name = new URL(request.url, 'http://x').pathname.replace(/^\/$/, '/index.html');
    const file = join(pageDir, name);
    if (name.includes('..') || !existsSync(file)) { response.writeHead(404); response.end(); return; }
    const headers = { 'Content-Type': TYPES[extname(file)] || 'application/octet-stream' };
    if (isolated) Object.assign(headers, { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' });
    response.writeHead(200, headers);
    response.end(readFileSync(file));
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return { server, origin: `http://127.0.0.1:${server.address().port}` };
}
// KELP_WEB_BUILDS=threaded or =single tries one of them.
const variants = [{ label: 'threaded', program: 'kelp.js', ...(await serve(true)) },
                  { label: 'single', program: 'kelp-st.js', ...(await serve(false)) }]
  .filter((v) => !process.env.KELP_WEB_BUILDS || process.env.KELP_WEB_BUILDS === v.label);

function readPng(path) {
  const data = readFileSync(path);
  let at = 8, width = 0, height = 0, colorType = 0;
  const idat = [];
  while (at < data.length) {
    const length = data.readUInt32BE(at), type = data.toString('latin1', at + 4, at + 8);
    const body = data.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') { width = body.readUInt32BE(0); height = body.readUInt32BE(4); colorType = body[9]; }
    if (type === 'IDAT') idat.push(body);
    at += 12 + length;
  }
  const channels = colorType === 6 ? 4 : 3, stride = width * channels;
  const raw = inflateSync(Buffer.concat(idat));
  const rgb = Buffer.alloc(width * height * 3), line = Buffer.alloc(stride), previous = Buffer.alloc(stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    for (let i = 0; i < stride; ++i) {
      const x = raw[y * (stride + 1) + 1 + i], a = i >= channels ? line[i - channels] : 0, b = previous[i];
      const c = i >= channels ? previous[i - channels] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predictor = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      line[i] = (x + predictor) & 255;
    }
    for (let x = 0; x < width; ++x) line.copy(rgb, (y * width + x) * 3, x * channels, x * channels + 3);
    line.copy(previous);
  }
  return { width, height, rgb };
}

const KEYS = { up: 'ArrowUp', down: 'ArrowDown', left: 'ArrowLeft', right: 'ArrowRight', enter: 'Enter', action: 'Enter',
               back: 'Backspace', soft1: 'F1', soft2: 'F3', tab: 'Tab', home: 'Home', end: 'End', pageup: 'PageUp',
               pagedown: 'PageDown', esc: 'Escape', escape: 'Escape', f2: 'F2', delete: 'Delete', help: 'F4' };
const MODIFIERS = { shift: 'Shift', ctrl: 'Control', alt: 'Alt' };

async function idle(page) {
  await page.waitForFunction(() => window.kelpIdle && window.kelpIdle(), { polling: 20, timeout: 20000 });
}

async function pressKey(page, name) {
  const parts = name.split('+');
  const held = parts.slice(0, -1).map((m) => MODIFIERS[m.toLowerCase()]);
  const last = parts[parts.length - 1];
  const key = KEYS[last.toLowerCase()] || (last.length === 1 ? last.toLowerCase() : null);
  if (!key || held.includes(undefined)) throw new Error(`no key ${name}`);
  for (const m of held) await page.keyboard.down(m);
  await page.keyboard.press(key);
  for (const m of held.reverse()) await page.keyboard.up(m);
}

let failures = 0;
const browser = await puppeteer.launch({ executablePath: '/usr/bin/chromium', headless: 'new',
                                         args: ['--no-sandbox', '--disable-gpu'] });
for (const { label, program, origin } of variants) {
  const downloads = join(workDir, 'downloads', label);
  mkdirSync(downloads, { recursive: true });
  for (const spec of cases) {
    const [script, file] = spec.split(':');
    const name = `${label} ${basename(script, '.txt')}`, scriptName = basename(script, '.txt');
    const context = await browser.createIncognitoBrowserContext();
    const page = await context.newPage();
    await page.setViewport({ width: 480, height: 900 });
    const session = await page.target().createCDPSession();
    await session.send('Page.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    page.on('pageerror', (e) => console.error(`${name}: page error ${e.message}`));
    const started = Date.now();
    await page.goto(`${origin}/index.html`);
    await idle(page);
    const firstPaint = await page.evaluate(() => window.kelpFirstPaint);
    const ran = await page.evaluate(() => window.kelpVariant);
    console.log(`${name}: ${ran}, first paint after ${Math.round(firstPaint)} ms (${Date.now() - started} ms to idle)`);
    if (ran !== program) { ++failures; console.log(`FAIL ${name}: the page loaded ${ran}, not ${program}`); }
    if (file !== '-') {
      const input = await page.$('#open');
      await input.uploadFile(file);
      await page.waitForFunction(() => !window.kelpIdle(), { polling: 5, timeout: 5000 }).catch(() => {});
      await idle(page);
    }
    let pictures = 0;
    for (const raw of readFileSync(script, 'utf8').split('\n')) {
      const line = raw.trim();
      if (!line || line.startsWith('#')) continue;
      const [word, ...rest] = line.split(' ');
      if (word === 'key') {
        for (const k of rest.filter(Boolean)) { await pressKey(page, k); await idle(page); }
      } else if (word === 'text') {
        for (const c of line.slice(5)) { await page.keyboard.press(c); await idle(page); }
      } else if (word === 'soft1' || word === 'soft2') {
        // The on-screen soft keys, as a finger presses them.
        await page.click(`#keys button[data-key="Soft${word[4]}"]`);
        await idle(page);
      } else if (word === 'png') {
        const shown = await page.evaluate(() => {
          const canvas = document.getElementById('screen');
          const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
          return { width: canvas.width, height: canvas.height, rgba: Array.from(data) };
        });
        const reference = readPng(join(workDir, 'ref', scriptName, rest[0]));
        let differ = 0;
        if (shown.width !== reference.width || shown.height !== reference.height) {
          differ = -1;
        } else {
          for (let i = 0; i < shown.width * shown.height; ++i)
            for (let k = 0; k < 3; ++k) if (shown.rgba[i * 4 + k] !== reference.rgb[i * 3 + k]) { ++differ; break; }
        }
        ++pictures;
        if (differ !== 0) {
          ++failures;
          await page.screenshot({ path: join(workDir, `${label}-${scriptName}-${rest[0]}`) });
          console.log(`FAIL ${name} ${rest[0]}: ${differ < 0 ? 'other size' : differ + ' pixels differ'}`);
        } else {
          console.log(`ok   ${name} ${rest[0]}: ${shown.width}x${shown.height} equal`);
        }
      } else {
        throw new Error(`${script}: the page runner has no "${word}" lines`);
      }
    }
    if (scriptName === 'budget') {
      // The page looks for written documents every half second, so the link may come after the last key.
      await page.waitForSelector('#download', { timeout: 5000 }).catch(() => {});
      if (await page.$('#download')) await page.click('#download');
      const wanted = join(downloads, 'budget.kp');
      for (let i = 0; i < 100 && !existsSync(wanted); ++i) await new Promise((r) => setTimeout(r, 100));
      console.log(existsSync(wanted) ? `ok   ${name}: downloaded ${readdirSync(downloads).join(', ')}` : `FAIL ${name}: no download`);
      if (!existsSync(wanted)) ++failures;
      // The documents folder lives in IndexedDB: after a reload the saved budget is still there.
      const saved = await page.evaluate(() => FS.readFile('/home/web_user/Documents/budget.kp').length);
      await page.reload();
      await idle(page);
      const kept = await page.evaluate(() => {
        const path = '/home/web_user/Documents/budget.kp';
        return FS.analyzePath(path).exists ? FS.readFile(path).length : 0;
      });
      console.log(kept === saved ? `ok   ${name}: kept over a reload (${kept} bytes)` : `FAIL ${name}: ${kept} of ${saved} bytes after a reload`);
      if (kept !== saved) ++failures;
    }
    if (pictures === 0) { ++failures; console.log(`FAIL ${name}: no pictures compared`); }
    await context.close();
  }
  // The recalculation figure, when the page's folder has the benchmark.
  if (existsSync(join(pageDir, 'bench', 'recalc.html'))) {
    const page = await browser.newPage();
    const figure = new Promise((done) => page.on('console', (m) => { if (m.text().startsWith('recalc')) done(m.text()); }));
    await page.goto(`${origin}/bench/recalc.html`);
    console.log(`${label} page: ${await Promise.race([figure, new Promise((r) => setTimeout(() => r('recalc: no answer'), 120000))])}`);
  }
}
await browser.close();
for (const { server } of variants) server.close();
process.exit(failures ? 1 : 0);
