// The hotspot export end to end, through the real program: a panorama of
// colour waves and a pinhole camera's clip of part of it (with a tone), a
// project whose nine area points lie where that camera puts its grid
// points, `tintora-cli render PROJECT --hotspot OUT/lobby`, its files
// checked, and the preview page it wrote opened from file:// in headless
// Chromium. Inside the hotspot's area the view with the clip must match the
// panorama alone up to the encoder's and the viewer's resampling, while the
// export of the same project with its mesh a degree to the right must differ
// clearly. Run by ctest:
//   node hotspot_export_test.cjs --cli PATH --chromium PATH --ffmpeg PATH
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');
const {
  PANORAMA_SIZE, parseArguments, run, frameDirection, makeWholePanorama, makeFlatClip,
  Browser, Page, rgbOf, hotspotRectangle, compare, levels,
} = require('./hotspot_browser.cjs');

// Left of straight ahead and raised, so that a sign turned anywhere shows;
// 640×384 over 40° × 24° has pixels 3 % from square on the frame's plane,
// as a real clip may.
const CAMERA = { yaw: -40, pitch: 12, horizontal: 40, vertical: 24, width: 640, height: 384 };
const SECONDS = 2;
const FPS = 25;
const NAME = 'lobby';
const VIEW_MARGIN = 1.4;
// The mean of the nine points' directions, each rounded to a whole pixel
// (0.09° at most), is the camera's centre to a few hundredths of a degree.
const CENTRE_TOLERANCE = 0.1;
// A degree to the right, in whole panorama pixels (6 px: 1.05°).
const MESH_SHIFT = Math.round(PANORAMA_SIZE.width / 360);

// Limits, in levels of 255 averaged over the three channels. The clip passes
// H.264 twice (the camera's, then the export's, both 4:2:0), the program's
// JPEG frames, the bake's bilinear resampling and the viewer's; its area
// points are whole pixels (here 0.06° off the camera's frame) and the
// viewer's own panorama lies up to half a pixel off where it belongs. All
// that measured 1.75 inside, 0.97 at the edge, 3.9 to 4.3 at worst; the mesh
// one pixel (0.18°) to either side 3.3 and 3.9 inside, 6.3 and 7.2 at worst,
// two pixels (0.35°) 6.4 and 11.4: the limits lie between.
const LIMITS = { interior: 4, edgeStep: 4, worstBlock: 8 };
// The mesh a degree off must fail them clearly, not just miss.
const CLEAR_FAILURE = 3;

// The placed export is the whole clip, its files checked too; the shifted
// one needs only enough frames to play.
const EXPORTS = [
  { name: 'placed', shift: 0, lastFrame: SECONDS * FPS, checkFiles: true, judge: placedChecks },
  { name: 'mesh_1deg_right', shift: MESH_SHIFT, lastFrame: 10, checkFiles: false, judge: shiftedChecks },
];

// ------------------------------------------------------------------ project
// Where the camera puts grid point p (row p/3, column p%3) on the panorama:
// the grid's outer points are the frame's first and last pixels' centres;
// a direction's pixel is the one whose centre is nearest, as an area point
// stands for the centre of its pixel.
function areaPoints(camera, shift) {
  return Array.from({ length: 9 }, (_, p) => {
    const i = ((p % 3) / 2) * (camera.width - 1);
    const j = (Math.floor(p / 3) / 2) * (camera.height - 1);
    const { yaw, pitch } = frameDirection(camera, (2 * (i + 0.5)) / camera.width - 1,
                                          1 - (2 * (j + 0.5)) / camera.height);
    return {
      x: Math.round((yaw / 360 + 0.5) * PANORAMA_SIZE.width - 0.5) + shift,
      y: Math.round((0.5 - pitch / 180) * PANORAMA_SIZE.height - 0.5),
    };
  });
}

// The project file's lines in the order the program writes them: the area
// points after the background, which resets them.
function projectText(background, clip, points, lastFrame) {
  return [
    `BACKGROUND_FILENAME=${background}`,
    `VIDEO_FILENAME=${clip}`,
    'START_FRAME=1',
    `STOP_FRAME=${lastFrame}`,
    `FPS=${FPS}`,
    ...points.map(({ x, y }, p) => `AREA_POINT${p}=${x},${y}`),
    'PANORAMA_HFOV=360',
    'PANORAMA_VFOV=180',
    'PANORAMA_YAW=0',
    'PANORAMA_PITCH=0',
    'MESH_MODEL=Perspective',
  ].map((line) => `${line}\r\n`).join('');
}

function renderHotspot(options, folder, background, clip, exported) {
  const exportFolder = path.join(folder, exported.name);
  const work = path.join(exportFolder, 'work');
  const out = path.join(exportFolder, 'out');
  for (const made of [work, out]) fs.mkdirSync(made, { recursive: true });
  const project = path.join(exportFolder, `${NAME}.project`);
  fs.writeFileSync(project, projectText(background, clip, areaPoints(CAMERA, exported.shift), exported.lastFrame));
  run(options.cli, ['render', project, '--hotspot', path.join(out, NAME), '--workdir', work]);
  return out;
}

// ------------------------------------------------------------------ files
const firstFramePixels = (ffmpeg, file) =>
  run(ffmpeg, ['-v', 'error', '-i', file, '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'gray', 'pipe:1']).length;

// How long the file's sound plays, decoded; 0 when it has none.
function soundSeconds(ffmpeg, file) {
  const rate = 8000;
  try {
    return run(ffmpeg, ['-v', 'error', '-i', file, '-vn', '-ac', '1', '-ar', String(rate), '-f', 's16le',
                        'pipe:1']).length / 2 / rate;
  } catch {
    return 0;
  }
}

const xmlNumber = (xml, name) => Number(xml.match(new RegExp(`\\b${name}="([^"]*)"`))?.[1]);

const exportFile = (out, ending) => path.join(out, `${NAME}${ending}`);

// The files the export promises that are not there, or empty.
function missingFiles(out) {
  const files = ['.mp4', '.webm', '.jpg', '.json', '.xml', '.html', '_media.js']
    .map((ending) => exportFile(out, ending)).concat(path.join(out, 'tintora-viewer.js'));
  return files.filter((name) => !fs.existsSync(name) || fs.statSync(name).size === 0);
}

const centreOff = (json) =>
  Math.max(Math.abs(json.centre.yaw - CAMERA.yaw), Math.abs(json.centre.pitch - CAMERA.pitch));

// The numbers the camera says, and the videos whole.
function fileChecks(options, out, json) {
  const xml = fs.readFileSync(exportFile(out, '.xml'), 'utf8');
  const krpanoOff = Math.max(Math.abs(xmlNumber(xml, 'ath') - CAMERA.yaw),
                             Math.abs(xmlNumber(xml, 'atv') + CAMERA.pitch));
  const videos = ['.mp4', '.webm'].map((ending) => exportFile(out, ending));
  const framePixels = json.video.width * json.video.height;
  const sounds = videos.map((video) => soundSeconds(options.ffmpeg, video));
  return [
    [`JSON's centre within ${CENTRE_TOLERANCE}° of the camera's`, centreOff(json) <= CENTRE_TOLERANCE],
    [`krpano's ath and atv within ${CENTRE_TOLERANCE}° of the camera's`, krpanoOff <= CENTRE_TOLERANCE],
    ['MP4, WebM and poster of the JSON\'s frame size', [...videos, exportFile(out, '.jpg')]
      .every((file) => firstFramePixels(options.ffmpeg, file) === framePixels)],
    [`MP4 and WebM carry the clip's ${SECONDS} s of sound (${sounds.map((t) => t.toFixed(2)).join(' s, ')} s)`,
      sounds.every((seconds) => Math.abs(seconds - SECONDS) < 0.1)],
  ];
}

// ------------------------------------------------------------------ browser
// The view at the hotspot's centre with the clip and without it, compared
// inside the rectangle the JSON's fov puts it in.
async function measurePage(options, browser, out, json) {
  const page = await Page.open(browser, pathToFileURL(path.join(out, `${NAME}.html`)).href);
  await page.waitUntilReady(90);
  const view = await page.evaluate(`tintoraLookAt(${JSON.stringify(
    { yaw: json.centre.yaw, pitch: json.centre.pitch, fov: VIEW_MARGIN * json.fov.vertical })})`);
  const withClip = await page.screenshot();
  await page.evaluate('tintoraShowHotspot(false)');
  const alone = await page.screenshot();
  fs.writeFileSync(path.join(out, 'with_clip.png'), withClip);
  fs.writeFileSync(path.join(out, 'alone.png'), alone);
  if (page.messages.length) console.log(`  page said: ${page.messages.join(' | ')}`);
  const rectangle = hotspotRectangle(json.fov, view);
  return { view, rectangle,
           figures: compare(rgbOf(options.ffmpeg, withClip), rgbOf(options.ffmpeg, alone), rectangle) };
}

function placedChecks(figures) {
  return [
    ['clip matches the panorama inside', figures.interior <= LIMITS.interior],
    ['no step at the hotspot\'s edge', figures.edgeStep <= LIMITS.edgeStep],
    ['no part of the clip off', figures.worstBlock <= LIMITS.worstBlock],
  ];
}

function shiftedChecks(figures) {
  const degrees = ((MESH_SHIFT * 360) / PANORAMA_SIZE.width).toFixed(2);
  return [[`mesh ${MESH_SHIFT} px (${degrees}°) right is found: inside at least ${CLEAR_FAILURE} × the limit`,
           figures.interior >= CLEAR_FAILURE * LIMITS.interior]];
}

async function main() {
  const options = parseArguments(process.argv.slice(2), ['cli', 'chromium', 'ffmpeg']);
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tintora-export-test-'));
  const whole = makeWholePanorama(options.ffmpeg, folder);
  const background = path.join(folder, 'background.jpg');
  run(options.ffmpeg, ['-v', 'error', '-y', '-i', whole, '-q:v', '2', background]);
  const clip = path.join(folder, 'camera.mp4');
  makeFlatClip(options.ffmpeg, whole, CAMERA, clip, { seconds: SECONDS, sound: true });
  const browser = new Browser(options.chromium, path.join(folder, 'profile'));
  let passed = 0;
  let failed = 0;
  const tally = (name, checks) => {
    for (const [what, ok] of checks) {
      console.log(`  ${ok ? 'ok  ' : 'FAIL'} ${name}: ${what}`);
      if (ok) passed++;
      else failed++;
    }
  };
  try {
    for (const exported of EXPORTS) {
      try {
        const out = renderHotspot(options, folder, background, clip, exported);
        const missing = missingFiles(out);
        if (missing.length) {
          tally(exported.name, [[`files missing or empty: ${missing.join(', ')}`, false]]);
          continue;
        }
        const json = JSON.parse(fs.readFileSync(exportFile(out, '.json'), 'utf8'));
        console.log(`${exported.name}: centre yaw ${json.centre.yaw.toFixed(3)}°, pitch ` +
          `${json.centre.pitch.toFixed(3)}° (${centreOff(json).toFixed(3)}° off the camera's); fov ` +
          `${json.fov.horizontal.toFixed(2)}° × ${json.fov.vertical.toFixed(2)}°; frame ` +
          `${json.video.width} × ${json.video.height} px`);
        if (exported.checkFiles) tally(exported.name, fileChecks(options, out, json));
        const { view, rectangle, figures } = await measurePage(options, browser, out, json);
        console.log(`  view ${view.horizontalFov.toFixed(2)}° × ${view.verticalFov.toFixed(2)}° ` +
          `at yaw ${view.yaw.toFixed(2)}°, pitch ${view.pitch.toFixed(2)}°; hotspot on screen ` +
          `${(rectangle.right - rectangle.left).toFixed(1)} × ${(rectangle.bottom - rectangle.top).toFixed(1)} px`);
        console.log('  levels (of 255)      interior  edge step  worst 16×16 block');
        console.log(`  ${exported.name.padEnd(20)} ${levels(figures.interior)}     ${levels(figures.edgeStep)}     ` +
          `${levels(figures.worstBlock)}`);
        tally(exported.name, exported.judge(figures));
      } catch (error) {
        failed++;
        console.log(`FAIL ${exported.name}: ${error.message}\n${browser.errorOutput.slice(-2000)}`);
      }
    }
  } finally {
    await browser.close();
  }
  if (failed) console.log(`Files and screenshots kept in ${folder}`);
  else fs.rmSync(folder, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
