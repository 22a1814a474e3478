// The cross-section to scale: ground plane, substrate H, the two strips W
// wide and T thick a gap S apart, and the cover H2 above the substrate. A
// cover far above the strips is drawn lower, with a break in the air gap.
const NS = 'http://www.w3.org/2000/svg';

function el(svg, name, attrs, content) {
  const e = document.createElementNS(NS, name);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
  if (content !== undefined) e.textContent = content;
  svg.append(e);
  return e;
}

const short = (x) => String(Number(x.toPrecision(4)));

export function drawSection(svg, { er, h, h2, t, w, s, unit }) {
  svg.replaceChildren();
  const ok = [h, h2, w, s].every((v) => Number.isFinite(v) && v > 0) && Number.isFinite(t) && t >= 0;
  if (!ok) {
    svg.setAttribute('viewBox', '0 0 100 20');
    el(svg, 'text', { x: 50, y: 12, 'text-anchor': 'middle', class: 'label', 'font-size': 5 },
      'H, H2, W, S and T: numbers above 0 (T may be 0)');
    return;
  }
  const pitch = 2 * w + s;
  const margin = Math.max(0.6 * pitch, 2 * h);
  const width = pitch + 2 * margin;
  const plate = width * 0.025;  // ground plane and cover, drawn thickness
  const maxAir = Math.max(0.6 * width, 4 * h, 2 * t);
  const broken = h2 > maxAir;
  const air = broken ? maxAir : h2;
  const height = plate + air + h + plate;
  const font = width / 26;
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);

  const top = plate + air;  // the substrate's surface
  el(svg, 'rect', { x: 0, y: 0, width, height: plate, class: 'metal' });
  el(svg, 'rect', { x: 0, y: top, width, height: h, class: 'substrate' });
  el(svg, 'rect', { x: 0, y: top + h, width, height: plate, class: 'metal' });
  const stripT = Math.max(t, width / 400);  // a zero-thickness strip still shows
  el(svg, 'rect', { x: margin, y: top - stripT, width: w, height: stripT, class: 'metal' });
  el(svg, 'rect', { x: margin + w + s, y: top - stripT, width: w, height: stripT, class: 'metal' });

  if (broken) {
    const y = plate + air / 2;
    const zig = [];
    for (let x = 0, k = 0; x <= width; x += width / 24, ++k) zig.push(`${x},${y + (k % 2 ? font / 3 : -font / 3)}`);
    el(svg, 'polyline', { points: zig.join(' '), class: 'break' });
  }

  const label = (x, y, text, anchor = 'middle') =>
    el(svg, 'text', { x, y, 'text-anchor': anchor, 'font-size': font, class: 'label' }, text);
  const gapY = top - stripT - font * 0.6;
  label(margin + w / 2, gapY, `W ${short(w)}`);
  label(margin + w + s / 2, gapY - font * 1.2, `S ${short(s)}`);
  label(margin + 1.5 * w + s, gapY, `W ${short(w)}`);
  label(width - font / 2, top + h / 2 + font / 3, `H ${short(h)}`, 'end');
  label(font / 2, top + h / 2 + font / 3, `Er ${short(er)}`, 'start');
  label(width - font / 2, plate + font * 1.2,
    `H2 ${short(h2)}${broken ? ' (gap shortened)' : ''}`, 'end');
  label(font / 2, plate + font * 1.2, `T ${short(t)} ${unit}`, 'start');
}
