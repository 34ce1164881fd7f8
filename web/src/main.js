// The hotspot preview page: the panorama in a full-window viewer with the
// exported clip laid over it by its four corners. The page gets its
// description from window.TINTORA_HOTSPOT (inlined by the exporter) and its
// pictures from the media script beside it, never by fetching files: a page
// opened from file:// may neither read nor upload local files to WebGL.
import { EquirectangularAdapter, Viewer } from '@photo-sphere-viewer/core';
import { MarkersPlugin } from '@photo-sphere-viewer/markers-plugin';
import coreCss from '@photo-sphere-viewer/core/index.css';
import markersCss from '@photo-sphere-viewer/markers-plugin/index.css';
import {
  MAX_FOV,
  MIN_FOV,
  cornerPositions,
  hotspotProblems,
  initialVerticalFov,
  mediaScriptName,
  panoDataFor,
  sphereCorrectionFor,
  toViewer,
  zoomLevelFor,
} from './placement.js';

const HOTSPOT_ID = 'hotspot';
const DEG = Math.PI / 180;

const overlayCss = `
.tintora-overlay { position: absolute; top: 8px; left: 8px; z-index: 200; padding: 3px 7px;
  font: 12px/1.4 sans-serif; color: #fff; background: rgba(0, 0, 0, 0.55); border-radius: 3px;
  pointer-events: none; white-space: pre; }
.tintora-overlay.error { color: #ffb4a8; white-space: pre-wrap; max-width: 40em; }`;

function addStyles() {
  const style = document.createElement('style');
  style.textContent = coreCss + markersCss + overlayCss;
  document.head.appendChild(style);
}

function showOverlay(text, isError = false) {
  let overlay = document.querySelector('.tintora-overlay');
  if (!overlay) {
    overlay = document.createElement('div');
    overlay.className = 'tintora-overlay';
    document.body.appendChild(overlay);
  }
  overlay.classList.toggle('error', isError);
  overlay.textContent = text;
}

const fixed = (value, digits = 2) => Number(value).toFixed(digits);

function hotspotSummary(hotspot) {
  const { centre, fov, video } = hotspot;
  const size = video.width && video.height ? ` · ${video.width}×${video.height} px` : '';
  return `yaw ${fixed(centre.yaw)}°  pitch ${fixed(centre.pitch)}°  ·  ` +
    `${fixed(fov.horizontal)}° × ${fixed(fov.vertical)}°${size}`;
}

// The media script sets window.TINTORA_MEDIA = {panorama, video}, each a
// data: URL; classic scripts load from file:// where fetch() may not.
function loadMediaScript(name) {
  return new Promise((resolve, reject) => {
    const script = document.createElement('script');
    script.src = name;
    script.onload = () => resolve(window.TINTORA_MEDIA);
    script.onerror = () => reject(new Error(`${name} is missing beside the page`));
    document.head.appendChild(script);
  });
}

// A blob: URL belongs to the page's own origin, so WebGL may draw it.
async function blobUrl(dataUrl, what) {
  if (typeof dataUrl !== 'string' || !dataUrl.startsWith('data:')) {
    throw new Error(`the media script has no ${what}`);
  }
  const blob = await (await fetch(dataUrl)).blob();
  return { url: URL.createObjectURL(blob), type: blob.type };
}

async function loadMedia(hotspot) {
  const name = mediaScriptName(hotspot);
  const media = await loadMediaScript(name);
  if (!media) throw new Error(`${name} does not set window.TINTORA_MEDIA`);
  const [panorama, video] = await Promise.all([
    blobUrl(media.panorama, 'panorama'),
    blobUrl(media.video, 'video'),
  ]);
  if (!document.createElement('video').canPlayType(video.type)) {
    throw new Error(`this browser cannot play ${video.type || 'the video'}`);
  }
  return { panorama: panorama.url, video: video.url };
}

function createViewer(hotspot, panoramaUrl) {
  const container = document.getElementById('viewer');
  const aspect = container.clientWidth / Math.max(1, container.clientHeight);
  const start = toViewer(hotspot.centre);
  return new Viewer({
    container,
    panorama: panoramaUrl,
    // The description, not the picture's own XMP, says where it lies.
    adapter: EquirectangularAdapter.withConfig({ useXmpData: false }),
    panoData: (image) => panoDataFor(image.width, hotspot.panorama),
    sphereCorrection: sphereCorrectionFor(hotspot.panorama),
    defaultYaw: start.yaw,
    defaultPitch: start.pitch,
    minFov: MIN_FOV,
    maxFov: MAX_FOV,
    defaultZoomLvl: zoomLevelFor(initialVerticalFov(hotspot.fov, aspect)),
    navbar: ['zoom', 'move', 'fullscreen'],
    plugins: [MarkersPlugin],
  });
}

// The clip's frame is the flat picture spanned by its corners, so it is
// drawn whole onto them. The layer would otherwise crop the texture to keep
// the clip's width:height equal to its corners' arc ratio, which an even
// pixel size can only approach.
function drawWholeTexture(marker) {
  if (typeof marker.__setTextureWrap !== 'function') {
    console.warn('Tintora: the viewer changed; the clip may be cropped to its corners\' arc ratio');
  }
  marker.__setTextureWrap = (material) => {
    material.repeat.set(1, 1);
    material.offset.set(0, 0);
  };
}

function nextRender(viewer) {
  return new Promise((resolve) => {
    viewer.addEventListener('render', () => requestAnimationFrame(() => requestAnimationFrame(resolve)), {
      once: true,
    });
    viewer.needsUpdate();
  });
}

function playing(video) {
  if (!video.paused && video.readyState >= HTMLMediaElement.HAVE_CURRENT_DATA) return Promise.resolve();
  return new Promise((resolve, reject) => {
    video.addEventListener('playing', resolve, { once: true });
    video.addEventListener('error', () => reject(new Error('the clip cannot be played')), { once: true });
  });
}

// Hooks for the browser test and for a curious user's console.
function exposeHooks(viewer, markers) {
  window.tintoraViewer = viewer;
  // Turns the view to yaw/pitch (degrees) with a vertical fov (degrees) and
  // resolves, once drawn, with the view the viewer settled on.
  window.tintoraLookAt = async ({ yaw, pitch, fov }) => {
    viewer.rotate(toViewer({ yaw, pitch }));
    if (fov !== undefined) viewer.zoom(zoomLevelFor(fov));
    await nextRender(viewer);
    const position = viewer.getPosition();
    const yawDegrees = position.yaw / DEG;
    return {
      yaw: yawDegrees > 180 ? yawDegrees - 360 : yawDegrees,
      pitch: position.pitch / DEG,
      verticalFov: viewer.state.vFov,
      horizontalFov: viewer.state.hFov,
    };
  };
  window.tintoraShowHotspot = async (visible) => {
    markers.toggleMarker(HOTSPOT_ID, visible);
    await nextRender(viewer);
  };
  // Moves the clip to other corners (degrees), as a wrong export would.
  window.tintoraPlaceHotspot = async (corners) => {
    markers.updateMarker({ id: HOTSPOT_ID, position: corners.map(toViewer) });
    await nextRender(viewer);
  };
}

function whenReady(viewer) {
  return new Promise((resolve, reject) => {
    viewer.addEventListener('ready', resolve, { once: true });
    viewer.addEventListener('panorama-error', () => reject(new Error('the panorama cannot be read')), {
      once: true,
    });
  });
}

async function start() {
  addStyles();
  const hotspot = window.TINTORA_HOTSPOT;
  const problems = hotspotProblems(hotspot);
  if (problems.length) throw new Error(problems.join('\n'));
  showOverlay(`Loading…  ${hotspotSummary(hotspot)}`);
  const media = await loadMedia(hotspot);
  const viewer = createViewer(hotspot, media.panorama);
  await whenReady(viewer);
  const markers = viewer.getPlugin(MarkersPlugin);
  markers.addMarker({ id: HOTSPOT_ID, videoLayer: media.video, position: cornerPositions(hotspot) });
  const marker = markers.getMarker(HOTSPOT_ID);
  drawWholeTexture(marker);
  exposeHooks(viewer, markers);
  await playing(marker.video);
  await nextRender(viewer);
  showOverlay(hotspotSummary(hotspot));
  window.tintoraReady = true;
  document.title += ' ready';
}

start().catch((error) => {
  console.error('Tintora:', error);
  showOverlay(`The preview cannot be shown:\n${error.message || error}`, true);
});

