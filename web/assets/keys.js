// Every name the page shares with the program: the subcommands' option
// names and the keys of their JSON documents. A key that changes is changed
// here and nowhere else.
//
// A quantity lists its keys newest first: the unit-suffixed keys of the
// documents with one outline ("w_mm", "zo_ohm"), then the earlier plain keys
// ("w", "zo"). Coupling levels and attenuations are shown as positive dB
// whichever sign a document gives them.

export const OPTION = {
  er: 'er', h: 'h', h2: 'h2', w: 'w', s: 's', t: 't', res: 'res', sr: 'sr', tlos: 'tlos',
  units: 'units', f: 'f', fRange: 'f-range', wRange: 'w-range', sRange: 's-range',
  centre: 'centre', length: 'length', rs: 'rs', rl: 'rl', zo: 'zo', coupling: 'coupling',
  tol: { w: 'tol-w', s: 'tol-s', h: 'tol-h', h2: 'tol-h2', t: 'tol-t', er: 'tol-er' },
  dist: 'dist', samples: 'samples', seed: 'seed', limit: 'limit',
  zdiff: 'zdiff', zcomm: 'zcomm',
};

// Limit names of the tolerance figures (`--limit NAME=MIN:MAX`).
export const FIGURE = { zo: 'zo', coupling: 'coupling_db' };

const ROW = {
  w: (u) => [`w_${u}`, 'w'],
  s: (u) => [`s_${u}`, 's'],
  zo: ['zo_ohm', 'zo'],
  zoe: ['zoe_ohm', 'zoe'],
  zoo: ['zoo_ohm', 'zoo'],
  coupling: ['coupling_db'],
  effE: ['eff_e'],
  effO: ['eff_o'],
  quarterWave: (u) => [`quarter_wave_${u}`, 'length'],
  anZo: ['an_zo_ohm', 'an_zo'],
  anCoupling: ['an_coupling_db'],
  f: ['f_ghz'],
  s11: ['s11_db'], s21: ['s21_db'], s31: ['s31_db'], s41: ['s41_db'],
  phaseError: ['phase_error_deg'],
  vswr: ['vswr'],
  zdiff: ['zdiff_ohm'],
  zcomm: ['zcomm_ohm'],
  valid: ['valid'],
  flags: ['flags'],
};

const MAGNITUDE = new Set(['coupling', 'anCoupling']);

// The value of quantity `name` in a row (undefined when the row has none).
export function get(row, name, unit) {
  const spec = ROW[name];
  const keys = typeof spec === 'function' ? spec(unit) : spec;
  for (const k of keys) {
    if (row && k in row) {
      const v = row[k];
      return MAGNITUDE.has(name) && typeof v === 'number' ? Math.abs(v) : v;
    }
  }
  return undefined;
}

// The rows of a document.
export function rows(doc) {
  return doc && Array.isArray(doc.rows) ? doc.rows : [];
}

// A row's flags (accuracy-range codes); none in the earlier documents.
export function flags(row) {
  const f = get(row, 'flags');
  return Array.isArray(f) ? f : [];
}

// The tolerance document as the page uses it:
//   {samples, valid, figures: {NAME: {unit, nominal, mean, std, min, max,
//    p1, p5, p50, p95, p99, count, share: {w, s, h, h2, t, er} (percent)}},
//    limits: [{figure, min, max, passed, count, yield, low, high}], joint}
// from either outline: rows of kind figure/limit/all_limits with a
// summary, or the earlier figures/yields/joint_yield objects.
export function tolerance(doc) {
  const out = { samples: 0, valid: 0, figures: {}, limits: [], joint: null };
  const params = ['w', 's', 'h', 'h2', 't', 'er'];
  if (Array.isArray(doc.rows)) {
    const sum = doc.summary || {};
    out.samples = sum.samples;
    out.valid = sum.valid;
    for (const r of doc.rows) {
      if (r.kind === 'figure') {
        const share = {};
        for (const p of params) share[p] = r[`share_${p}_pct`];
        out.figures[r.figure] = {
          unit: r.unit, nominal: r.nominal, mean: r.mean, std: r.std, min: r.min, max: r.max,
          p1: r.p1, p5: r.p5, p50: r.p50, p95: r.p95, p99: r.p99, count: r.count, share,
        };
      } else if (r.kind === 'limit' || r.kind === 'all_limits') {
        const l = {
          figure: r.kind === 'limit' ? r.figure : 'all limits', min: r.limit_min, max: r.limit_max,
          passed: r.passed, count: r.count, yield: r.yield_pct, low: r.ci95_low_pct,
          high: r.ci95_high_pct,
        };
        if (r.kind === 'limit') out.limits.push(l); else out.joint = l;
      }
    }
    return out;
  }
  out.samples = doc.samples;
  out.valid = doc.valid;
  for (const [name, f] of Object.entries(doc.figures || {})) {
    const share = {};
    for (const p of params) share[p] = f.share ? 100 * f.share[p] : undefined;
    out.figures[name] = {
      unit: f.unit, nominal: f.nominal, mean: f.mean, std: f.std, min: f.min, max: f.max,
      ...f.percentiles, count: f.count, share,
    };
  }
  const yieldOf = (y, figure) => ({
    figure, min: y.min, max: y.max, passed: y.passed, count: y.count, yield: y.yield_pct,
    low: y.ci95_pct && y.ci95_pct[0], high: y.ci95_pct && y.ci95_pct[1],
  });
  out.limits = (doc.yields || []).map((y) => yieldOf(y, y.figure));
  if (doc.joint_yield) out.joint = yieldOf(doc.joint_yield, 'all limits');
  return out;
}
