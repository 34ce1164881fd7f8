// Turns the exporter's hotspot description (degrees, Tintora's conventions)
// into the viewer's options (radians, the viewer's conventions). Both measure
// yaw to the right and pitch upward, so angles carry over; what differs is
// how the panorama picture is laid on the sphere.

const DEG = Math.PI / 180;

// How much wider and taller than the hotspot the first view is.
const VIEW_MARGIN = 1.4;
export const MIN_FOV = 1;
export const MAX_FOV = 120;

const isNumber = (value) => typeof value === 'number' && Number.isFinite(value);
const isAngle = (point) => point && isNumber(point.yaw) && isNumber(point.pitch);

// What is wrong with the description, in words for the page; empty when the
// page can show it.
export function hotspotProblems(hotspot) {
  if (!hotspot || typeof hotspot !== 'object') return ['no hotspot description in the page'];
  const problems = [];
  const { video, panorama, centre, fov, corners } = hotspot;
  if (!video || typeof video.mp4 !== 'string' || !video.mp4) problems.push('video.mp4 is missing');
  if (!panorama || !(panorama.hfov > 0 && panorama.hfov <= 360) || !(panorama.vfov > 0 && panorama.vfov <= 180) ||
      !isNumber(panorama.yaw) || !isNumber(panorama.pitch)) {
    problems.push('panorama: hfov, vfov, yaw or pitch missing or out of range');
  } else if (Math.abs(panorama.pitch) + panorama.vfov / 2 > 90 + 1e-6) {
    problems.push('panorama: pitch and vfov reach past a pole');
  }
  if (!isAngle(centre)) problems.push('centre is missing');
  if (!fov || !(fov.horizontal > 0 && fov.horizontal < 180) || !(fov.vertical > 0 && fov.vertical < 180)) {
    problems.push('fov is missing or out of range');
  }
  if (!Array.isArray(corners) || corners.length !== 4 || !corners.every(isAngle)) {
    problems.push('corners must be four yaw/pitch pairs');
  }
  return problems;
}

// The picture covers hfov × vfov around (panorama.yaw, panorama.pitch) with
// its columns and rows spread evenly over the angles. The viewer lays a
// cropped picture into a whole 2:1 sphere of fullWidth × fullHeight pixels at
// (croppedX, croppedY), the whole sphere's centre column at its yaw 0:
//   fullWidth     = imageWidth · 360 / hfov,   fullHeight = fullWidth / 2
//   croppedWidth  = imageWidth
//   croppedHeight = fullHeight · vfov / 180   (rows stretched to vfov even
//                                             when pixels are not square)
//   croppedX      = (fullWidth − croppedWidth) / 2        (centred in yaw)
//   croppedY      = fullHeight · (90 − pitch − vfov / 2) / 180
// A pitch moves the rows along the meridians, which only the crop can say;
// a yaw is a turn about the vertical, given to the viewer as the sphere
// correction below, since a crop may not run past the picture's seam.
export function panoDataFor(imageWidth, panorama) {
  const fullWidth = (imageWidth * 360) / panorama.hfov;
  const fullHeight = fullWidth / 2;
  return {
    fullWidth,
    fullHeight,
    croppedWidth: imageWidth,
    croppedHeight: (fullHeight * panorama.vfov) / 180,
    croppedX: (fullWidth - imageWidth) / 2,
    croppedY: (fullHeight * (90 - panorama.pitch - panorama.vfov / 2)) / 180,
    poseHeading: 0,
    posePitch: 0,
    poseRoll: 0,
  };
}

// The viewer turns the picture by −pan about the vertical: a picture whose
// centre column looks at yaw Y needs pan = −Y.
export function sphereCorrectionFor(panorama) {
  return { pan: -panorama.yaw * DEG, tilt: 0, roll: 0 };
}

export function toViewer(point) {
  return { yaw: point.yaw * DEG, pitch: point.pitch * DEG };
}

// Corners in the order the viewer's four-corner layer takes: top-left,
// top-right, bottom-right, bottom-left, as the description lists them.
export function cornerPositions(hotspot) {
  return hotspot.corners.map(toViewer);
}

// A vertical field of view that shows the whole hotspot with a margin on a
// viewer of the given width:height.
export function initialVerticalFov(fov, aspect) {
  const vertical = VIEW_MARGIN * fov.vertical;
  const horizontal = Math.min(VIEW_MARGIN * fov.horizontal, 179);
  const verticalForWidth = (2 * Math.atan(Math.tan((horizontal / 2) * DEG) / aspect)) / DEG;
  return Math.min(MAX_FOV, Math.max(MIN_FOV, vertical, verticalForWidth));
}

// The viewer's zoom level (0 at MAX_FOV, 100 at MIN_FOV) for a vertical fov.
export function zoomLevelFor(verticalFov) {
  const clamped = Math.min(MAX_FOV, Math.max(MIN_FOV, verticalFov));
  return ((MAX_FOV - clamped) / (MAX_FOV - MIN_FOV)) * 100;
}

export function mediaScriptName(hotspot) {
  const base = hotspot.video.mp4.replace(/^.*[\\/]/, '').replace(/\.[^.]*$/, '');
  return `${base}_media.js`;
}
