// Every name the page shares with the program: the subcommands' option
// names and the keys of their JSON documents (doc/scripted.md). A key that
// changes is changed here and nowhere else.

export const OPTION = {
  er: 'er', h: 'h', h2: 'h2', w: 'w', s: 's', t: 't', res: 'res', sr: 'sr', tlos: 'tlos',
  units: 'units', f: 'f', fRange: 'f-range', wRange: 'w-range', sRange: 's-range',
  centre: 'centre', center: 'center', length: 'length', rs: 'rs', rl: 'rl', zo: 'zo',
  coupling: 'coupling',
  model: 'model', coatThickness: 'coat-thickness', coatEr: 'coat-er',
  tol: {
    w: 'tol-w', s: 'tol-s', h: 'tol-h', h2: 'tol-h2', t: 'tol-t', er: 'tol-er', etch: 'tol-etch',
  },
  dist: 'dist', samples: 'samples', seed: 'seed', limit: 'limit',
  zdiff: 'zdiff', zcomm: 'zcomm',
  // kestrelix line: the board cross-section, its searches and tolerances.
  structure: 'structure', hAbove: 'h-above', erAbove: 'er-above', hBetween: 'h-between',
  erBetween: 'er-between', offset: 'offset', groundGap: 'ground-gap', groundWidth: 'ground-width',
  etchFactor: 'etch-factor', maskOverTrace: 'mask-over-trace', maskEr: 'mask-er',
  neighbour: 'neighbour', accuracy: 'accuracy', z0: 'z0', pitch: 'pitch', tand: 'tand',
  // kestrelix loss: the wideband materials.
  material: 'material', dk: 'dk', df: 'df', fDatasheet: 'f-datasheet', dielectricModel: 'dielectric-model',
  roughness: 'roughness',
};

// The rows of a line document by kind, and the keys the page reads
// (lengths with the unit's suffix, delays in ps per unit).
export const LINE = {
  kind: 'kind', layer: 'layer', mask: 'mask', conductor: 'conductor', line: 'line', pair: 'pair',
  crosstalk: 'crosstalk', topPlane: 'top_plane',
};
export function stackOf(doc, unit) {
  const of = (kind) => rows(doc).filter((r) => r.kind === kind);
  const len = (r, k) => r[`${k}_${unit}`];
  const m = of(LINE.mask)[0];
  return {
    layers: of(LINE.layer).map((r) => ({ thickness: len(r, 'thickness'), er: r.er })),
    mask: m ? {
      interface: m.interface, over: len(m, 'over_trace'), onSubstrate: len(m, 'on_substrate'),
      between: len(m, 'between'), er: m.er,
    } : null,
    conductors: of(LINE.conductor).map((r) => ({
      role: r.role, interface: r.interface, left: len(r, 'left') ?? -Infinity,
      right: len(r, 'right') ?? Infinity, topW: len(r, 'top_w'), thickness: len(r, 'thickness'),
    })),
  };
}

// The values of --model; the text that stands for an open section (--h2 inf).
export const MODEL = { field: 'field', closed: 'closed' };
export const OPEN = 'inf';

// Limit names of the tolerance figures (`--limit NAME=MIN:MAX`): Zo and the
// coupling of the cross-section (lossless), and the coupling of the coupler
// (the four-port's |S21|, with a length or a centre frequency; a band holds
// only a four-port figure).
export const FIGURE = { zo: 'zo', coupling: 'coupling_db', coupled: 'coupled_db' };

// The flags a row may carry, in words.
export const FLAG_TEXT = {
  wh: 'W/H outside 0.1 to 10',
  sh: 'S/H outside 0.1 to 8',
  er: 'Er above 20',
  fh: 'F\u00b7H above 25 GHz\u00b7mm',
  s_lt_2t: 'S below 2 T',
  no_converge: 'the synthesis did not converge',
  not_finite: 'a value is not a finite number',
  cover: 'Zoo above Zoe under the cover',
  zo_single: 'Zo above the single strip\u2019s impedance',
  closed_form_off: 'the closed forms more than 1 % off the field solver',
  field_error: 'the field solver\u2019s error estimate above its setting\u2019s promise',
  w_narrow: 'W not above 0.0001 in',
  s_narrow: 'S not above 0.00001 in',
  refused: 'an input the models cannot take',
};

const ROW = {
  w: (u) => `w_${u}`,
  s: (u) => `s_${u}`,
  zo: 'zo_ohm',
  zoe: 'zoe_ohm',
  zoo: 'zoo_ohm',
  coupling: 'coupling_db',
  effE: 'eff_e',
  effO: 'eff_o',
  quarterWave: (u) => `quarter_wave_${u}`,
  anZo: 'an_zo_ohm',
  anCoupling: 'an_coupling_db',
  f: 'f_ghz',
  s11: 's11_db', s21: 's21_db', s31: 's31_db', s41: 's41_db',
  phaseError: 'phase_error_deg',
  flags: 'flags',
};

// The check document: a row per figure (quantity, unit, the closed forms'
// and the field solver's values, their difference in percent) and the
// verdict in its summary.
export const CHECK = {
  quantity: 'quantity', closed: 'closed', field: 'field', difference: 'difference_pct',
  verdict: 'verdict', off: 'closed_form_off',
};

// Keys of a document's inputs the page reads back.
export const INPUT = { f: 'f_ghz', bandStart: 'band_start_ghz', bandStop: 'band_stop_ghz' };

// The value of quantity `name` in a row (undefined when the row has none).
export function get(row, name, unit) {
  const entry = ROW[name];
  const key = typeof entry === 'function' ? entry(unit) : entry;
  return row ? row[key] : undefined;
}

// The rows of a document.
export function rows(doc) {
  return doc && Array.isArray(doc.rows) ? doc.rows : [];
}

// A row's flags: the codes of the accuracy ranges it is outside.
export function flags(row) {
  const f = get(row, 'flags');
  return Array.isArray(f) ? f : [];
}

// The keys of a row that say whether it is valid rather than give a value.
export const VALIDITY = ['valid', 'flags'];

// An error reply of the API: its message, the program's lines and the
// partial document of a run that stopped at an invalid point.
export const error = (data) => ({
  message: data && data.error, details: (data && data.details) || [], document: data && data.document,
});

// The tolerance document as the page uses it:
//   {samples, valid, fieldMethod, figures: {NAME: {unit, nominal, mean, std,
//    min, max, p1, p5, p50, p95, p99, count, share: {w, s, h, h2, t, er, etch}
//    (percent), histogram: counts in equal bins from min to max}},
//    limits: [{figure, min, max, overBand, passed, count, yield, low, high}],
//    joint}
// from its rows of kind figure, limit and all_limits and its summary.
// fieldMethod: with the field model, how every sample's own solution was
// made: 'fast' (the solver's tables), 'local_model' (a local model of
// direct solutions about the nominal section: a coating, the fine
// accuracy) or 'direct' (every sample solved); undefined with the closed
// forms.
export const TOLERANCE_PARAMS = ['w', 's', 'h', 'h2', 't', 'er', 'etch'];
export const FIELD_METHOD = { fast: 'fast', local: 'local_model', direct: 'direct' };
export const STACK_TOLERANCE_PARAMS = ['h', 'er', 'w', 's', 't', 'etch', 'inset', 'mask', 'mask_er'];
export function tolerance(doc, params = TOLERANCE_PARAMS) {
  const out = { samples: 0, valid: 0, figures: {}, limits: [], joint: null };
  const sum = doc.summary || {};
  out.samples = sum.samples;
  out.valid = sum.valid;
  out.fieldMethod = sum.field_method;
  for (const r of rows(doc)) {
    if (r.kind === 'figure') {
      const share = {};
      for (const p of params) if (r[`share_${p}_pct`] !== undefined) share[p] = r[`share_${p}_pct`];
      out.figures[r.figure] = {
        unit: r.unit, nominal: r.nominal, mean: r.mean, std: r.std, min: r.min, max: r.max,
        p1: r.p1, p5: r.p5, p50: r.p50, p95: r.p95, p99: r.p99, count: r.count, share,
        histogram: r.histogram || [],
      };
    } else if (r.kind === 'limit' || r.kind === 'all_limits') {
      const l = {
        figure: r.kind === 'limit' ? r.figure : 'all limits', min: r.limit_min, max: r.limit_max,
        overBand: r.over_band === true, passed: r.passed, count: r.count, yield: r.yield_pct, low: r.ci95_low_pct,
        high: r.ci95_high_pct,
      };
      if (r.kind === 'limit') out.limits.push(l); else out.joint = l;
    }
  }
  return out;
}

// Words for a key the page shows as a label ("zdiff_ohm": "Zdiff (ohm)",
// "delay_e_ps_per_mm": "Delay, even mode (ps/mm)"): the quantity, then its
// unit from the key's suffix (doc/scripted.md).
const WORDS = {
  w: 'W', s: 'S', w_h: 'W/H', s_h: 'S/H', zdiff: 'Zdiff', zcomm: 'Zcomm', zoe: 'Zoe', zoo: 'Zoo',
  zo: 'Zo', coupling: 'Coupling', eff_e: 'Effective Er, even mode',
  eff_o: 'Effective Er, odd mode', delay_e: 'Delay, even mode', delay_o: 'Delay, odd mode',
  field_error: 'Field solver\u2019s error estimate',
};
const SUFFIXES = [
  [/_ps_per_(in|mil|mm|um)$/, (u) => `ps/${u}`], [/_(in|mil|mm|um)$/, (u) => u],
  [/_ohm$/, () => 'ohm'], [/_db$/, () => 'dB'], [/_pct$/, () => '%'], [/_ghz$/, () => 'GHz'],
  [/_deg$/, () => 'deg'],
];
export function label(key) {
  for (const [suffix, unit] of SUFFIXES) {
    const m = key.match(suffix);
    if (m) {
      const name = key.slice(0, m.index);
      return `${WORDS[name] || name} (${unit(m[1])})`;
    }
  }
  return WORDS[key] || key;
}
