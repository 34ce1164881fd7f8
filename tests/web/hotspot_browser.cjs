// What the hotspot page tests share: the panorama of colour waves and a
// flat camera's clip of it, Tintora's view geometry, Chromium driven over
// the DevTools protocol, and the comparison of the view with and without
// the clip inside the hotspot's rectangle on the screen.
'use strict';

const { spawn, spawnSync } = require('child_process');
const path = require('path');

const DEG = Math.PI / 180;
const SCREEN = { width: 960, height: 540 };
const PANORAMA_SIZE = { width: 2048, height: 1024 };
// Colour waves a few degrees long in every direction: a shift by a fraction
// of a degree shows, yet nothing is sharper than the encoder keeps.
const WAVES =
  "geq=r='128+90*sin(X/9+Y/23)':g='128+90*sin(Y/11-X/31)':b='128+60*sin((X+Y)/17)+30*cos(X/53-Y/7)'";

// `--name value` pairs; each of `required` must be there.
function parseArguments(argv, required) {
  const options = {};
  for (let i = 0; i < argv.length; i += 2) options[argv[i].replace(/^--/, '')] = argv[i + 1];
  for (const name of required) {
    if (!options[name]) throw new Error(`--${name} is missing`);
  }
  return options;
}

function run(program, args, input) {
  const result = spawnSync(program, args, { input, maxBuffer: 256 << 20 });
  if (result.status !== 0) {
    throw new Error(`${program} ${args.join(' ')} failed:\n${result.error?.message ?? result.stderr}`);
  }
  return result.stdout;
}

// ------------------------------------------------------------------ geometry
// Tintora's conventions: d = (cos p·sin h, sin p, cos p·cos h); the frame's
// right r = (cos h, 0, −sin h) and up u = (−sin p·sin h, cos p, −sin p·cos h).
// The direction of a flat frame's point x, y (−1..1 from its left and bottom
// edges to its right and top ones) as yaw and pitch in degrees.
function frameDirection({ yaw, pitch, horizontal, vertical }, x, y) {
  const h = yaw * DEG;
  const p = pitch * DEG;
  const c = [Math.cos(p) * Math.sin(h), Math.sin(p), Math.cos(p) * Math.cos(h)];
  const r = [Math.cos(h), 0, -Math.sin(h)];
  const u = [-Math.sin(p) * Math.sin(h), Math.cos(p), -Math.sin(p) * Math.cos(h)];
  const tanA = Math.tan((horizontal / 2) * DEG);
  const tanB = Math.tan((vertical / 2) * DEG);
  const d = c.map((value, k) => value + x * tanA * r[k] + y * tanB * u[k]);
  return {
    yaw: Math.atan2(d[0], d[2]) / DEG,
    pitch: Math.atan2(d[1], Math.hypot(d[0], d[2])) / DEG,
  };
}

// ------------------------------------------------------------------ fixtures
function makeWholePanorama(ffmpeg, folder) {
  const picture = path.join(folder, 'whole.png');
  const size = `${PANORAMA_SIZE.width}x${PANORAMA_SIZE.height}`;
  run(ffmpeg, ['-v', 'error', '-y', '-f', 'lavfi', '-i', `nullsrc=s=${size},format=rgb24,${WAVES}`,
               '-frames:v', '1', picture]);
  return picture;
}

// The clip a flat camera takes of the lossless picture, by v360's flat
// output, the same gnomonic frame as the exporter's: checked against a
// direct resampling of the picture with Tintora's formulas, v360's yaw turns
// right and its pitch up, pixel centres at (i + 0.5)/W (0.6 levels apart,
// against 46 and 73 with yaw or pitch negated). One frame is made and
// repeated at 25 fps. Encoded as the exporter does an SD clip: TV range,
// BT.601 matrix, tagged; with a tone when asked.
function makeFlatClip(ffmpeg, whole, camera, clip, { seconds = 1, sound = false } = {}) {
  const flat = `v360=input=e:output=flat:yaw=${camera.yaw}:pitch=${camera.pitch}` +
    `:h_fov=${camera.horizontal}:v_fov=${camera.vertical}:w=${camera.width}:h=${camera.height}` +
    `:interp=lanczos,loop=loop=${seconds * 25 - 1}:size=1`;
  const tone = sound
    ? ['-f', 'lavfi', '-i', `sine=frequency=440:sample_rate=48000:duration=${seconds}`, '-c:a', 'aac']
    : [];
  run(ffmpeg, ['-v', 'error', '-y', '-framerate', '25', '-i', whole, ...tone,
               '-vf', `${flat},scale=out_range=tv:out_color_matrix=bt601:flags=accurate_rnd,format=yuv420p`,
               '-c:v', 'libx264', '-preset', 'veryfast', '-crf', '14', '-color_range', 'tv',
               '-colorspace', 'smpte170m', '-color_primaries', 'smpte170m', '-color_trc', 'smpte170m',
               '-movflags', '+faststart', clip]);
}

// ------------------------------------------------------------------ browser
// Chromium driven through the DevTools protocol on a pipe (fd 3 in, fd 4
// out, messages ended by NUL): nothing to install beyond Chromium.
class Browser {
  constructor(chromium, profile) {
    this.process = spawn(chromium, [
      '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--remote-debugging-pipe', `--user-data-dir=${profile}`, '--no-first-run', '--mute-audio',
      '--hide-scrollbars', `--window-size=${SCREEN.width},${SCREEN.height}`, 'about:blank',
    ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    this.errorOutput = '';
    this.process.stderr.on('data', (chunk) => { this.errorOutput += chunk; });
    this.nextId = 1;
    this.pending = new Map();
    this.eventHandlers = [];
    let buffered = '';
    this.process.stdio[4].on('data', (chunk) => {
      buffered += chunk.toString('utf8');
      let end;
      while ((end = buffered.indexOf('\0')) >= 0) {
        this.receive(JSON.parse(buffered.slice(0, end)));
        buffered = buffered.slice(end + 1);
      }
    });
    this.exited = new Promise((resolve) => this.process.on('exit', resolve));
    this.exited.then(() => {
      for (const { reject } of this.pending.values()) reject(new Error('Chromium ended'));
    });
  }

  receive(message) {
    if (message.id === undefined) {
      for (const handler of this.eventHandlers) handler(message);
      return;
    }
    const call = this.pending.get(message.id);
    this.pending.delete(message.id);
    if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
    else call.resolve(message.result);
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    this.process.stdio[3].write(`${JSON.stringify({ id, method, params, sessionId })}\0`);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`${method} got no answer`)), 60000);
      this.pending.set(id, {
        method,
        resolve: (value) => { clearTimeout(timer); resolve(value); },
        reject: (error) => { clearTimeout(timer); reject(error); },
      });
    });
  }

  async close() {
    this.process.kill();
    await this.exited;
  }
}

class Page {
  static async open(browser, url) {
    const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
    const page = new Page(browser, sessionId);
    browser.eventHandlers.push((event) => event.sessionId === sessionId && page.note(event));
    await page.send('Runtime.enable');
    await page.send('Emulation.setDeviceMetricsOverride',
      { width: SCREEN.width, height: SCREEN.height, deviceScaleFactor: 1, mobile: false });
    await page.send('Page.navigate', { url });
    return page;
  }

  constructor(browser, sessionId) {
    this.browser = browser;
    this.sessionId = sessionId;
    this.messages = [];
  }

  note({ method, params }) {
    if (method === 'Runtime.consoleAPICalled' && ['error', 'warning'].includes(params.type)) {
      this.messages.push(params.args.map((arg) => arg.value ?? arg.description).join(' '));
    } else if (method === 'Runtime.exceptionThrown') {
      this.messages.push(params.exceptionDetails.exception?.description ?? params.exceptionDetails.text);
    }
  }

  send(method, params) {
    return this.browser.send(method, params, this.sessionId);
  }

  async evaluate(expression) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true });
    if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.exception?.description}`);
    return result.value;
  }

  async waitUntilReady(seconds) {
    for (const deadline = Date.now() + seconds * 1000; Date.now() < deadline;) {
      if (await this.evaluate('window.tintoraReady === true')) return;
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
    const overlay = await this.evaluate("document.querySelector('.tintora-overlay')?.textContent");
    throw new Error(`the page never got ready; it shows: ${overlay}\n${this.messages.join('\n')}`);
  }

  async screenshot() {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    return Buffer.from(data, 'base64');
  }
}

// ------------------------------------------------------------------ measures
function rgbOf(ffmpeg, png) {
  return run(ffmpeg, ['-v', 'error', '-i', 'pipe:0', '-f', 'rawvideo', '-pix_fmt', 'rgb24', 'pipe:1'], png);
}

// Where a hotspot of that fov lies on a screen that looks at its centre:
// both are flat pictures around the same direction, so the frame is an
// upright rectangle scaled by the ratio of the half-angles' tangents.
function hotspotRectangle(fov, view) {
  const halfWidth = (Math.tan((fov.horizontal / 2) * DEG) / Math.tan((view.horizontalFov / 2) * DEG)) *
    (SCREEN.width / 2);
  const halfHeight = (Math.tan((fov.vertical / 2) * DEG) / Math.tan((view.verticalFov / 2) * DEG)) *
    (SCREEN.height / 2);
  return { left: SCREEN.width / 2 - halfWidth, right: SCREEN.width / 2 + halfWidth,
           top: SCREEN.height / 2 - halfHeight, bottom: SCREEN.height / 2 + halfHeight };
}

// |a − b| summed over the three channels, per pixel.
function pixelDifferences(a, b) {
  const differences = new Uint16Array(SCREEN.width * SCREEN.height);
  for (let p = 0, i = 0; p < differences.length; p++, i += 3) {
    differences[p] = Math.abs(a[i] - b[i]) + Math.abs(a[i + 1] - b[i + 1]) + Math.abs(a[i + 2] - b[i + 2]);
  }
  return differences;
}

// Mean difference per channel over the pixels of a box that `keep` takes
// (given each pixel's centre).
function meanDifference(differences, box, keep = () => true) {
  let sum = 0;
  let count = 0;
  for (let y = Math.max(0, Math.floor(box.top)); y < Math.min(SCREEN.height, Math.ceil(box.bottom)); y++) {
    for (let x = Math.max(0, Math.floor(box.left)); x < Math.min(SCREEN.width, Math.ceil(box.right)); x++) {
      if (!keep(x + 0.5, y + 0.5)) continue;
      sum += differences[y * SCREEN.width + x];
      count += 3;
    }
  }
  if (!count) throw new Error('no pixel to compare');
  return sum / count;
}

// Depth of a screen point inside the rectangle, in pixels (negative outside).
const depthInside = (r, x, y) => Math.min(x - r.left, r.right - x, y - r.top, r.bottom - y);

// The view with the clip against the panorama alone, in levels of 255 per
// channel: the mean over the rectangle's inside, over the band just inside
// its border (outside it both are the same panorama, so a difference there
// is a step at the frame's edge), and the worst 16×16 block.
function compare(shot, alone, rectangle) {
  const differences = pixelDifferences(shot, alone);
  const interior = meanDifference(differences, rectangle, (x, y) => depthInside(rectangle, x, y) >= 6);
  const edgeStep = meanDifference(differences, rectangle, (x, y) => {
    const depth = depthInside(rectangle, x, y);
    return depth >= 1 && depth < 4;
  });
  let worstBlock = 0;
  for (let top = Math.ceil(rectangle.top) + 1; top + 16 < rectangle.bottom - 1; top += 16) {
    for (let left = Math.ceil(rectangle.left) + 1; left + 16 < rectangle.right - 1; left += 16) {
      const block = { left, right: left + 16, top, bottom: top + 16 };
      worstBlock = Math.max(worstBlock, meanDifference(differences, block));
    }
  }
  return { interior, edgeStep, worstBlock };
}

const levels = (value) => value.toFixed(2).padStart(6);

module.exports = {
  DEG, SCREEN, PANORAMA_SIZE, parseArguments, run, frameDirection, makeWholePanorama, makeFlatClip,
  Browser, Page, rgbOf, hotspotRectangle, compare, levels,
};
