// The cross-section to scale: ground plane, substrate H, the two strips W
// wide and T thick a gap S apart, a coating over the substrate and the
// strips, and the cover H2 above the substrate. A cover far above the strips
// is drawn lower, with a break in the air gap; an open section (H2 infinite)
// has no cover, and the air above the strips is drawn only as high as the
// labels need.
const NS = 'http://www.w3.org/2000/svg';

function el(svg, name, attrs, content) {
  const e = document.createElementNS(NS, name);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  if (content !== undefined) e.textContent = content;
  svg.append(e);
  return e;
}

const short = (x) => String(Number(x.toPrecision(4)));

// {er, h, h2, t, w, s, coat, unit}: lengths in one unit, h2 Infinity for an
// open section, coat the coating's thickness (0: none).
export function drawSection(svg, { er, h, h2, t, w, s, coat = 0, unit }) {
  svg.replaceChildren();
  const open = h2 === Infinity;
  const ok = [h, w, s].every((v) => Number.isFinite(v) && v > 0) &&
    (open || (Number.isFinite(h2) && h2 > 0)) && Number.isFinite(t) && t >= 0 &&
    Number.isFinite(coat) && coat >= 0;
  if (!ok) {
    svg.setAttribute('viewBox', '0 0 100 20');
    el(svg, 'text', { x: 50, y: 12, 'text-anchor': 'middle', class: 'label', 'font-size': 5 },
      'H, H2 (or inf), W, S and T: numbers above 0 (T may be 0)');
    return;
  }
  const pitch = 2 * w + s;
  const margin = Math.max(0.6 * pitch, 2 * h);
  const width = pitch + 2 * margin;
  const plate = width * 0.025;  // ground plane and cover, drawn thickness
  const font = width / 26;
  const maxAir = Math.max(0.4 * width, 3 * h, 2 * (t + coat));
  const broken = !open && h2 > maxAir;
  // Open: room for the labels above the strips and their coating.
  const air = open ? Math.max(0.25 * width, t + coat + 4 * font) : broken ? maxAir : h2;
  const cover = open ? 0 : plate;
  const height = cover + air + h + plate;
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);

  const top = cover + air;  // the substrate's surface
  if (!open) el(svg, 'rect', { x: 0, y: 0, width, height: plate, class: 'metal' });
  el(svg, 'rect', { x: 0, y: top, width, height: h, class: 'substrate' });
  el(svg, 'rect', { x: 0, y: top + h, width, height: plate, class: 'metal' });
  const stripT = Math.max(t, width / 400);  // a zero-thickness strip still shows
  const strips = [margin, margin + w + s];
  if (coat > 0) {
    el(svg, 'rect', { x: 0, y: top - coat, width, height: coat, class: 'coat' });
    for (const x of strips) {
      el(svg, 'rect', { x: x - coat, y: top - stripT - coat, width: w + 2 * coat, height: stripT + coat, class: 'coat' });
    }
  }
  for (const x of strips) el(svg, 'rect', { x, y: top - stripT, width: w, height: stripT, class: 'metal' });

  if (broken) {
    const y = plate + air / 2;
    const zig = [];
    for (let x = 0, k = 0; x <= width; x += width / 24, ++k) zig.push(`${x},${y + (k % 2 ? font / 3 : -font / 3)}`);
    el(svg, 'polyline', { points: zig.join(' '), class: 'break' });
  }

  const label = (x, y, text, anchor = 'middle') =>
    el(svg, 'text', { x, y, 'text-anchor': anchor, 'font-size': font, class: 'label' }, text);
  const gapY = top - stripT - coat - font * 0.6;
  label(margin + w / 2, gapY, `W ${short(w)}`);
  label(margin + w + s / 2, gapY - font * 1.2, `S ${short(s)}`);
  label(margin + 1.5 * w + s, gapY, `W ${short(w)}`);
  label(width - font / 2, top + h / 2 + font / 3, `H ${short(h)}`, 'end');
  label(font / 2, top + h / 2 + font / 3, `Er ${short(er)}`, 'start');
  label(width - font / 2, cover + font * 1.2,
    open ? 'H2 inf: no cover' : `H2 ${short(h2)}${broken ? ' (gap shortened)' : ''}`, 'end');
  label(font / 2, cover + font * 1.2, `T ${short(t)} ${unit}`, 'start');
  if (coat > 0) label(font / 2, cover + font * 2.5, `coating ${short(coat)}`, 'start');
}

// A board cross-section to scale, as the program solved it (the layer,
// mask and conductor rows of its `line` document): the layers from the
// ground plane up, a top plane over a stripline's, each conductor a
// trapezoid on its interface (a coplanar ground cut off at the drawing's
// edge), the solder mask over the top surface and its traces.
// {layers: [{thickness, er}], mask: {interface, over, onSubstrate, between,
//  er} or null, conductors: [{role, interface, left, right, topW,
//  thickness}], topPlane, unit}; x = 0 is the middle of the traces.
export function drawStructure(svg, { layers, mask, conductors, topPlane, unit }) {
  svg.replaceChildren();
  if (!layers.length || !conductors.length) {
    svg.setAttribute('viewBox', '0 0 100 20');
    el(svg, 'text', { x: 50, y: 12, 'text-anchor': 'middle', class: 'label', 'font-size': 5 },
      'drawn as the solver takes it');
    return;
  }
  const heights = [0];
  for (const l of layers) heights.push(heights[heights.length - 1] + l.thickness);
  const stack = heights[heights.length - 1];
  // The traces' extent sets the drawing's width; unbounded grounds stop at its edge.
  const signals = conductors.filter((c) => c.role !== 'ground');
  const lo = Math.min(...signals.map((c) => c.left));
  const hi = Math.max(...signals.map((c) => c.right));
  const span = Math.max(hi - lo, 1e-9);
  const margin = Math.max(0.8 * span, 1.5 * stack);
  const x0 = lo - margin;
  const width = span + 2 * margin;
  const plate = width * 0.02;
  const font = width / 26;
  const maskTop = mask ? Math.max(mask.over, mask.onSubstrate, mask.between) : 0;
  const tallest = Math.max(0, ...conductors.map((c) => heights[c.interface] + c.thickness));
  const air = topPlane ? 0 : Math.max(0.2 * width, tallest - stack + maskTop + 3 * font);
  const height = (topPlane ? plate : 0) + air + stack + plate;
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  const base = height - plate;  // y of the ground plane's top
  const Y = (h) => base - h;
  const X = (x) => Math.min(Math.max(x, x0), x0 + width) - x0;

  el(svg, 'rect', { x: 0, y: base, width, height: plate, class: 'metal' });
  layers.forEach((l, k) => {
    el(svg, 'rect', { x: 0, y: Y(heights[k + 1]), width, height: l.thickness, class: k % 2 ? 'substrate alt' : 'substrate' });
  });
  if (topPlane) el(svg, 'rect', { x: 0, y: Y(stack) - plate, width, height: plate, class: 'metal' });
  const shape = (c, grow = 0) => {
    const y = heights[c.interface];
    const inset = Number.isFinite(c.topW) && Number.isFinite(c.right - c.left) ? (c.right - c.left - c.topW) / 2 : 0;
    const t = Math.max(c.thickness, width / 400);  // a zero-thickness trace still shows
    return [[X(c.left - grow), Y(y)], [X(c.right + grow), Y(y)],
      [X(c.right - inset + grow), Y(y + t + grow)], [X(c.left + inset - grow), Y(y + t + grow)]]
      .map((p) => p.join(',')).join(' ');
  };
  if (mask) {
    const at = heights[mask.interface];
    el(svg, 'rect', { x: 0, y: Y(at + mask.onSubstrate), width, height: mask.onSubstrate, class: 'coat' });
    for (const c of conductors.filter((k) => k.interface === mask.interface)) {
      el(svg, 'polygon', { points: shape(c, mask.over), class: 'coat' });
    }
    if (signals.length === 2 && signals[0].interface === mask.interface && signals[1].interface === mask.interface) {
      const [a, b] = [...signals].sort((p, q) => p.left - q.left);
      const extra = mask.between - mask.onSubstrate;  // over the mask on the bare layer
      if (extra > 0) el(svg, 'rect', { x: X(a.right), y: Y(at + mask.between), width: Math.max(0, X(b.left) - X(a.right)), height: extra, class: 'coat' });
    }
  }
  for (const c of conductors) el(svg, 'polygon', { points: shape(c), class: 'metal' });

  const label = (x, y, t, anchor = 'middle') =>
    el(svg, 'text', { x, y, 'text-anchor': anchor, 'font-size': font, class: 'label' }, t);
  layers.forEach((l, k) => {
    const mid = Y((heights[k] + heights[k + 1]) / 2) + font / 3;
    label(font / 2, mid, `Er ${short(l.er)}`, 'start');
    label(width - font / 2, mid, `${short(l.thickness)} ${unit}`, 'end');
  });
  for (const c of signals) {
    const y = heights[c.interface] + c.thickness + (mask ? mask.over : 0);
    label((X(c.left) + X(c.right)) / 2, Y(y) - font * 0.5, `W ${short(c.right - c.left)}`);
  }
  if (signals.length === 2 && signals[0].interface === signals[1].interface) {
    const [a, b] = [...signals].sort((p, q) => p.left - q.left);
    label((X(a.right) + X(b.left)) / 2, Y(heights[a.interface]) + font * 1.2, `S ${short(b.left - a.right)}`);
  }
  if (mask) label(font / 2, font * 1.2, `mask Er ${short(mask.er)}`, 'start');
}
