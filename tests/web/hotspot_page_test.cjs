// The hotspot preview page in a real browser: a panorama and a clip cut from
// it are exported by hand (JSON, page from the template, media script), the
// page is opened from file:// in headless Chromium, and inside the hotspot's
// area the view with the clip must match the panorama alone up to the
// encoder's and the viewer's resampling, while the same clip 2° off must
// differ clearly. Run by ctest:
//   node hotspot_page_test.cjs --web BUILD/web --chromium PATH --ffmpeg PATH
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');
const {
  PANORAMA_SIZE, parseArguments, run, frameDirection, makeWholePanorama, makeFlatClip,
  Browser, Page, rgbOf, hotspotRectangle, compare, levels,
} = require('./hotspot_browser.cjs');

// The clip's width:height (2:1) is not its corners' arc ratio (about 1.73):
// the page must still draw the whole frame onto the corners.
const HOTSPOT = { yaw: 30, pitch: 10, horizontal: 40, vertical: 24, width: 512, height: 256 };
const WRONG_YAW_SHIFT = 2;
const VIEW_MARGIN = 1.4;

// Limits, in levels of 255 averaged over the three channels. The clip passes
// JPEG, H.264 with 4:2:0 chroma and two bilinear resamplings; the clip a
// quarter of a degree off already exceeds them.
const LIMITS = { interior: 4, edgeStep: 5, worstBlock: 8, wrongInteriorAtLeast: 20 };

// The panoramas the clip is shown over: the whole sphere, and a part of it
// that is turned and raised (columns 512–2047, rows 128–767 of the whole),
// which must put the same pixels in the same directions.
const CASES = [
  { name: 'whole_sphere', crop: null, panorama: { hfov: 360, vfov: 180, yaw: 0, pitch: 0 } },
  {
    name: 'partial_turned',
    crop: { x: 512, y: 128, width: 1536, height: 640 },
    panorama: { hfov: 270, vfov: 112.5, yaw: 45, pitch: 11.25 },
  },
];

// ------------------------------------------------------------------ geometry
function frameCorners(hotspot) {
  return [[-1, 1], [1, 1], [1, -1], [-1, -1]].map(([x, y]) => frameDirection(hotspot, x, y));
}

function hotspotJson(name, crop, panoramaDescription) {
  const size = crop ?? PANORAMA_SIZE;
  return {
    video: { mp4: `${name}.mp4`, webm: `${name}.webm`, poster: `${name}.jpg`,
             width: HOTSPOT.width, height: HOTSPOT.height },
    panorama: { image: '/projects/demo/background.jpg', width: size.width, height: size.height,
                ...panoramaDescription },
    centre: { yaw: HOTSPOT.yaw, pitch: HOTSPOT.pitch },
    fov: { horizontal: HOTSPOT.horizontal, vertical: HOTSPOT.vertical },
    corners: frameCorners(HOTSPOT),
    krpano: { ath: HOTSPOT.yaw, atv: -HOTSPOT.pitch, width: HOTSPOT.width, height: HOTSPOT.height,
              distorted: true, edge: 'center' },
  };
}

// ------------------------------------------------------------------ fixtures
function makePanoramaJpeg(ffmpeg, whole, crop, jpeg) {
  const filter = crop ? ['-vf', `crop=${crop.width}:${crop.height}:${crop.x}:${crop.y}`] : [];
  run(ffmpeg, ['-v', 'error', '-y', '-i', whole, ...filter, '-q:v', '2', jpeg]);
}

const dataUrl = (file, type) => `data:${type};base64,${fs.readFileSync(file).toString('base64')}`;

// What the exporter writes beside the clip, and the bundle it copies.
function exportPage(options, folder, name, json, panoramaJpeg, clip) {
  const template = fs.readFileSync(path.join(options.web, 'hotspot_template.html'), 'utf8');
  const marker = '/*TINTORA_HOTSPOT_JSON*/null';
  if (!template.includes(marker)) throw new Error('the template has no placeholder');
  const jsonText = JSON.stringify(json).replace(/</g, '\\u003c');
  fs.writeFileSync(path.join(folder, `${name}.json`), jsonText);
  fs.writeFileSync(path.join(folder, `${name}.html`), template.replace(marker, () => jsonText));
  const media = { panorama: dataUrl(panoramaJpeg, 'image/jpeg'), video: dataUrl(clip, 'video/mp4') };
  fs.writeFileSync(path.join(folder, `${name}_media.js`), `window.TINTORA_MEDIA = ${JSON.stringify(media)};\n`);
  fs.copyFileSync(path.join(options.web, 'tintora-viewer.js'), path.join(folder, 'tintora-viewer.js'));
  return path.join(folder, `${name}.html`);
}

// ------------------------------------------------------------------ the test
async function measureCase(options, browser, folder, whole, clip, testCase) {
  const caseFolder = path.join(folder, testCase.name);
  fs.mkdirSync(caseFolder);
  const panoramaJpeg = path.join(caseFolder, 'background.jpg');
  makePanoramaJpeg(options.ffmpeg, whole, testCase.crop, panoramaJpeg);
  const name = 'hotspot';
  const json = hotspotJson(name, testCase.crop, testCase.panorama);
  const pageFile = exportPage(options, caseFolder, name, json, panoramaJpeg, clip);

  const page = await Page.open(browser, pathToFileURL(pageFile).href);
  await page.waitUntilReady(90);
  const view = await page.evaluate(`tintoraLookAt(${JSON.stringify(
    { yaw: HOTSPOT.yaw, pitch: HOTSPOT.pitch, fov: VIEW_MARGIN * HOTSPOT.vertical })})`);
  const shots = {};
  shots.withClip = await page.screenshot();
  await page.evaluate('tintoraShowHotspot(false)');
  shots.alone = await page.screenshot();
  const shifted = json.corners.map((corner) => ({ yaw: corner.yaw + WRONG_YAW_SHIFT, pitch: corner.pitch }));
  await page.evaluate(`tintoraShowHotspot(true).then(() => tintoraPlaceHotspot(${JSON.stringify(shifted)}))`);
  shots.wrong = await page.screenshot();
  for (const [shot, png] of Object.entries(shots)) fs.writeFileSync(path.join(caseFolder, `${shot}.png`), png);
  if (page.messages.length) console.log(`  page said: ${page.messages.join(' | ')}`);

  const rgb = Object.fromEntries(Object.entries(shots).map(([shot, png]) => [shot, rgbOf(options.ffmpeg, png)]));
  const rectangle = hotspotRectangle(HOTSPOT, view);
  return { view, rectangle, right: compare(rgb.withClip, rgb.alone, rectangle),
           wrong: compare(rgb.wrong, rgb.alone, rectangle) };
}

function checksOf(figures) {
  return [
    ['clip matches the panorama inside', figures.right.interior <= LIMITS.interior],
    ['no step at the clip\'s edge', figures.right.edgeStep <= LIMITS.edgeStep],
    ['no part of the clip off', figures.right.worstBlock <= LIMITS.worstBlock],
    [`clip ${WRONG_YAW_SHIFT}° off shows`, figures.wrong.interior >= LIMITS.wrongInteriorAtLeast],
  ];
}

async function main() {
  const options = parseArguments(process.argv.slice(2), ['web', 'chromium', 'ffmpeg']);
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tintora-web-test-'));
  const whole = makeWholePanorama(options.ffmpeg, folder);
  const clip = path.join(folder, 'hotspot.mp4');
  makeFlatClip(options.ffmpeg, whole, HOTSPOT, clip);
  const browser = new Browser(options.chromium, path.join(folder, 'profile'));
  let passed = 0;
  let failed = 0;
  try {
    for (const testCase of CASES) {
      let figures;
      try {
        figures = await measureCase(options, browser, folder, whole, clip, testCase);
      } catch (error) {
        failed++;
        console.log(`FAIL ${testCase.name}: ${error.message}\n${browser.errorOutput.slice(-2000)}`);
        continue;
      }
      const { view, rectangle, right, wrong } = figures;
      console.log(`${testCase.name}: view ${view.horizontalFov.toFixed(2)}° × ${view.verticalFov.toFixed(2)}° ` +
        `at yaw ${view.yaw.toFixed(2)}°, pitch ${view.pitch.toFixed(2)}°; hotspot on screen ` +
        `${(rectangle.right - rectangle.left).toFixed(1)} × ${(rectangle.bottom - rectangle.top).toFixed(1)} px`);
      console.log(`  levels (of 255)      interior  edge step  worst 16×16 block`);
      console.log(`  placed right          ${levels(right.interior)}     ${levels(right.edgeStep)}     ${levels(right.worstBlock)}`);
      console.log(`  yaw ${WRONG_YAW_SHIFT}° off            ${levels(wrong.interior)}     ${levels(wrong.edgeStep)}     ${levels(wrong.worstBlock)}`);
      for (const [what, ok] of checksOf(figures)) {
        console.log(`  ${ok ? 'ok  ' : 'FAIL'} ${testCase.name}: ${what}`);
        if (ok) passed++;
        else failed++;
      }
    }
  } finally {
    await browser.close();
  }
  if (failed) console.log(`Screenshots kept in ${folder}`);
  else fs.rmSync(folder, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
