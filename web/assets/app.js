// The page: one design form, six computations on tabs, recomputed as the
// user types. Every number comes from the program's JSON API (/api/NAME,
// the subcommand NAME's document); the whole design lives in the address.
// What the page can tell from the inputs alone (a number, its range, H2
// above T and the coating) it says beside the input before asking; what
// the program refuses it places beside the input the message names.
import * as K from './keys.js';
import { drawSection, drawStructure } from './section.js';
import * as Plot from './plots.js';

const $ = (sel, root = document) => root.querySelector(sel);
const $$ = (sel, root = document) => [...root.querySelectorAll(sel)];

const PER_INCH = { in: 1, mil: 1000, mm: 25.4, um: 25400 };
// The tabs of the coupler and of a board cross-section (the structure picker).
const COUPLER_TABS = ['synthesis', 'analysis', 'response', 'tolerance', 'diffpair', 'check', 'loss'];
const STRUCTURE_TABS = ['line', 'linesyn', 'linetol', 'loss'];
const COUPLER = 'coupler';
const UNIT_TEXT = { in: 'in', mil: 'mil', mm: 'mm', um: '\u00b5m' };
// Typing coalesces within this; a run still in flight is cancelled.
const DEBOUNCE_MS = 25;
// Points of the analysis tab's sweep when no range is given.
const AUTO_STEPS = 24;

let units = 'mm';
let active = 'synthesis';
const optional = { diffpair: null, check: null };  // null: not known yet
let inFlight = null;  // AbortController of the run in progress
// This page's name to the server, which shares its runs fairly among pages:
// a random word per page load.
const CLIENT = Array.from(crypto.getRandomValues(new Uint8Array(8)),
  (b) => b.toString(16).padStart(2, '0')).join('');
const HEADERS = { 'Content-Type': 'application/json', 'Kestrelix-Client': CLIENT };
let timer = 0;
let lastSynthesis = null;
let lastLineSynthesis = null;  // the structure's synthesis: {w, s}
let lastStack = null;  // the cross-section of the last line document, for the drawing
let runs = 0;
let lastEdit = null;  // performance.now() of the latest edit not yet plotted

// ------------------------------------------------------------------ fields

const fields = () => $$('input[name], select[name]');
const field = (name) => $(`[name="${name}"]`);
const text = (name) => (field(name) ? field(name).value.trim() : '');
const model = () => field('model').value;
// The structure picked: 'coupler' (the edge-coupled pair of the coupler
// tabs) or a board cross-section's name (kestrelix line --structure).
const structure = () => field('structure').value;
const isCoupler = () => structure() === COUPLER;
const isPair = () => isCoupler() || structure().endsWith('-pair');
const TABS = () => (isCoupler() ? COUPLER_TABS : STRUCTURE_TABS);
// The structure's kind, single or pair alike (the broadside pair is one).
const kind = () => (structure() === 'broadside-pair' ? structure() : structure().replace(/-pair$/, ''));

// Seven significant digits: a float's worth, so that a unit and back
// gives the value typed.
const sig7 = (x) => String(Number(x.toPrecision(7)));

function convertLengths(from, to) {
  for (const el of $$('input.len')) {
    const v = Number(el.value);
    if (el.value.trim() !== '' && Number.isFinite(v)) {
      el.value = sig7((v * PER_INCH[to]) / PER_INCH[from]);
    }
  }
}

function showUnits() {
  for (const el of $$('.u')) el.textContent = UNIT_TEXT[units];
}

function syncPreset() {
  const er = text('er');
  const match = $$('#preset option').find((o) => o.value !== '' && Number(o.value) === Number(er));
  field('preset').value = match ? match.value : '';
}

// ----------------------------------------------------------------- checking

// What each input takes: need (must be filled), min (the least value; above:
// strictly above it), whole (a whole number, up to max), inf (`inf`: no
// cover), pct (a percentage of the value: 5%).
const ABOVE0 = { min: 0, above: true };
const NONNEG = { min: 0 };
const TOL = { min: 0, pct: true };
const RULES = {
  er: { need: true, min: 1 },
  h: { need: true, ...ABOVE0 },
  h2: { need: true, ...ABOVE0, inf: true },
  t: { need: true, ...NONNEG },
  w: { need: true, ...ABOVE0 },
  s: { need: true, ...ABOVE0 },
  res: NONNEG, sr: NONNEG, tlos: NONNEG, coatt: NONNEG, coater: { min: 1 },
  zo: { need: true, ...ABOVE0 }, cpl: { need: true, ...ABOVE0 }, fsyn: NONNEG,
  amin: ABOVE0, amax: ABOVE0, astep: ABOVE0, fa: NONNEG,
  fstart: { need: true, ...NONNEG }, fstop: { need: true, ...ABOVE0 },
  fstep: { need: true, ...ABOVE0 }, centre: { need: true, ...ABOVE0 },
  len: { need: true, ...ABOVE0 }, rs: ABOVE0, rl: ABOVE0,
  tf: NONNEG, tcentre: ABOVE0,
  tolw: TOL, tols: TOL, tolh: TOL, tolh2: TOL, tolt: TOL, toler: TOL, toletch: NONNEG,
  samples: { whole: true, min: 1, max: 1000000 }, seed: { whole: true, min: 0 },
  cmin: {}, cmax: {}, zmin: {}, zmax: {},
  bstart: NONNEG, bstop: ABOVE0, bstep: ABOVE0,
  fd: NONNEG, zdiff: { need: true, ...ABOVE0 }, zcomm: { need: true, ...ABOVE0 }, fc: NONNEG,
  ha: { need: true, ...ABOVE0 }, era: { min: 1 }, hb: { need: true, ...ABOVE0 }, erb: { min: 1 },
  off: {}, gg: { need: true, ...ABOVE0 }, gw: ABOVE0, ef: ABOVE0, mt: ABOVE0, mer: { min: 1 },
  nb: ABOVE0, lz0: { need: true, ...ABOVE0 }, lzdiff: { need: true, ...ABOVE0 },
  lzcomm: { need: true, ...ABOVE0 }, lpitch: { need: true, ...ABOVE0 },
  sth: TOL, ster: TOL, stw: TOL, sts: TOL, stt: TOL, stetch: NONNEG,
  stn: { whole: true, min: 1, max: 100000 }, stmin: {}, stmax: {},
  lfstart: { need: true, ...ABOVE0 }, lfstop: { need: true, ...ABOVE0 },
  lfstep: { need: true, ...ABOVE0 }, ldk: { need: true, min: 1 }, ldf: NONNEG,
  lfspec: ABOVE0, lrq: { need: true, ...ABOVE0 }, lrad: { need: true, ...ABOVE0 },
  lsph: { need: true, ...ABOVE0 }, lside: { need: true, ...ABOVE0 },
};
const NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;

function expected(rule) {
  if (rule.whole) return rule.max ? `a whole number from ${rule.min} to ${rule.max}` : 'a whole number';
  if (rule.inf) return 'a number, or inf for no cover';
  if (rule.pct) return 'a number, or a percentage such as 5%';
  return 'a number';
}

// Reads the inputs a computation uses and keeps what is wrong with them,
// one message per input.
class Reader {
  constructor() {
    this.problems = new Map();
  }

  fail(name, message) {
    if (!this.problems.has(name)) this.problems.set(name, message);
  }

  // The text of input `name` when it is good; '' when it is empty and may be.
  text(name) {
    const rule = RULES[name] || {};
    const v = text(name);
    if (v === '') {
      if (rule.need) this.fail(name, 'needed');
      return '';
    }
    if (rule.inf && /^inf(inity)?$/i.test(v)) return K.OPEN;
    const n = rule.pct && v.endsWith('%') ? v.slice(0, -1).trim() : v;
    if (!NUMBER.test(n) || (rule.whole && !/^\d+$/.test(n))) {
      this.fail(name, `enter ${expected(rule)}`);
      return '';
    }
    const x = Number(n);
    if (rule.min !== undefined && (rule.above ? !(x > rule.min) : !(x >= rule.min))) {
      this.fail(name, rule.above ? `must be above ${rule.min}`
        : rule.min === 0 ? 'must be 0 or above' : `must be at least ${rule.min}`);
      return '';
    }
    if (rule.max !== undefined && x > rule.max) {
      this.fail(name, `enter ${expected(rule)}`);
      return '';
    }
    return v;
  }

  // Its value as a number (Infinity for inf, NaN when empty or wrong).
  number(name) {
    const v = this.text(name);
    return v === K.OPEN ? Infinity : v === '' || v.endsWith('%') ? NaN : Number(v);
  }

  // Input `hi` must be above input `lo` when both are given.
  order(lo, hi, what) {
    const a = this.number(lo);
    const b = this.number(hi);
    if (a >= b) this.fail(hi, `must be above ${what} (${text(lo)})`);
  }
}

function put(r, body, option, name) {
  const v = r.text(name);
  if (v !== '') body[option] = v;
}

// ---------------------------------------------------------------- problems

// The input a command-line option names on the active tab.
const INPUT_OF = {
  [K.OPTION.er]: 'er', [K.OPTION.h]: 'h', [K.OPTION.h2]: 'h2', [K.OPTION.t]: 't',
  [K.OPTION.w]: 'w', [K.OPTION.s]: 's', [K.OPTION.res]: 'res', [K.OPTION.sr]: 'sr',
  [K.OPTION.tlos]: 'tlos', [K.OPTION.tand]: { loss: 'tlos' }, [K.OPTION.coatThickness]: 'coatt', [K.OPTION.coatEr]: 'coater',
  [K.OPTION.model]: 'model', [K.OPTION.zo]: 'zo', [K.OPTION.coupling]: 'cpl',
  [K.OPTION.rs]: 'rs', [K.OPTION.rl]: 'rl', [K.OPTION.length]: 'len',
  [K.OPTION.samples]: { tolerance: 'samples', linetol: 'stn' }, [K.OPTION.seed]: 'seed',
  [K.OPTION.zdiff]: { diffpair: 'zdiff', linesyn: 'lzdiff' },
  [K.OPTION.zcomm]: { diffpair: 'zcomm', linesyn: 'lzcomm' },
  [K.OPTION.tol.w]: { tolerance: 'tolw', linetol: 'stw' },
  [K.OPTION.tol.s]: { tolerance: 'tols', linetol: 'sts' },
  [K.OPTION.tol.h]: { tolerance: 'tolh', linetol: 'sth' }, [K.OPTION.tol.h2]: 'tolh2',
  [K.OPTION.tol.t]: { tolerance: 'tolt', linetol: 'stt' },
  [K.OPTION.tol.er]: { tolerance: 'toler', linetol: 'ster' },
  [K.OPTION.tol.etch]: { tolerance: 'toletch', linetol: 'stetch' },
  [K.OPTION.hAbove]: 'ha', [K.OPTION.erAbove]: 'era', [K.OPTION.hBetween]: 'hb',
  [K.OPTION.erBetween]: 'erb', [K.OPTION.offset]: 'off', [K.OPTION.groundGap]: 'gg',
  [K.OPTION.groundWidth]: 'gw', [K.OPTION.etchFactor]: 'ef', [K.OPTION.maskOverTrace]: 'mt',
  [K.OPTION.maskEr]: 'mer', [K.OPTION.neighbour]: 'nb', [K.OPTION.accuracy]: 'lacc',
  [K.OPTION.z0]: 'lz0', [K.OPTION.pitch]: 'lpitch', [K.OPTION.structure]: 'structure',
  [K.OPTION.dk]: 'ldk', [K.OPTION.df]: 'ldf', [K.OPTION.fDatasheet]: 'lfspec', [K.OPTION.material]: 'lmat',
  [K.OPTION.dielectricModel]: 'ldmodel', [K.OPTION.roughness]: 'lrq',
  [K.OPTION.f]: { synthesis: 'fsyn', analysis: 'fa', tolerance: 'tf', diffpair: 'fd', check: 'fc' },
  [K.OPTION.centre]: { response: 'centre', tolerance: 'tcentre' },
  [K.OPTION.center]: { response: 'centre', tolerance: 'tcentre' },
  [K.OPTION.fRange]: { response: 'fstart', tolerance: 'bstart', loss: 'lfstart' },
  [K.OPTION.wRange]: { analysis: 'amin' },
  [K.OPTION.sRange]: { analysis: 'amin' },
  [K.OPTION.limit]: { tolerance: 'cmin', linetol: 'stmin' },
};

function inputOf(option) {
  const v = INPUT_OF[option];
  const name = typeof v === 'object' ? v[active] : v;
  // Only an input in view: the structure's own inputs are the line's.
  return name && field(name) && !field(name).closest('label').hidden ? name : undefined;
}

// An input's name as its label shows it ("W mm").
function labelOf(name) {
  const label = field(name).closest('label');
  const span = label.querySelector('span');
  return (span || label.firstChild).textContent.trim();
}

// The program's words for the page: its inputs and switches for options.
function inWords(message) {
  return message
    .replace(/(give|use) --model[ =]field/g, 'choose the field solver (Model)')
    .replace(/--model[ =]field/g, 'the field solver')
    .replace(/--([a-z0-9-]+)/g, (all, o) => (inputOf(o) ? labelOf(inputOf(o)) : all));
}

// The inputs a usage error of the program names, with what it says of each.
function placeError(message) {
  const problems = new Map();
  const m = String(message || '').replace(/^kestrelix(?: [a-z]+)?: /, '');
  const missing = /^missing (.*?)(?: \(or give --defaults FILE\))?$/.exec(m);
  if (missing) {
    for (const [, o] of missing[1].matchAll(/--([a-z0-9-]+)/g)) {
      if (inputOf(o)) problems.set(inputOf(o), 'needed');
    }
    return problems;
  }
  const one = /^--([a-z0-9-]+): (.*)$/.exec(m);
  if (one && inputOf(one[1])) problems.set(inputOf(one[1]), inWords(one[2]));
  return problems;
}

function clearProblems() {
  for (const msg of $$('label .msg')) msg.remove();
  for (const el of $$('[aria-invalid]')) {
    el.removeAttribute('aria-invalid');
    el.removeAttribute('aria-describedby');
  }
  $('#results').classList.remove('stale');
}

// Each problem beside its input, the first in view; the results stay, faded.
function showProblems(problems) {
  clearProblems();
  let first = null;
  for (const [name, message] of problems) {
    const el = field(name);
    if (!el) continue;
    const msg = document.createElement('span');
    msg.className = 'msg';
    msg.id = `msg-${name}`;
    msg.textContent = message;
    el.closest('label').append(msg);
    el.setAttribute('aria-invalid', 'true');
    el.setAttribute('aria-describedby', msg.id);
    first = first || el;
  }
  if (first) {
    const box = first.closest('label').getBoundingClientRect();
    if (box.top < 0 || box.bottom > window.innerHeight) first.closest('label').scrollIntoView({ block: 'nearest' });
  }
  $('#results').classList.add('stale');
  const box = $('#status');
  box.classList.add('error');
  const [name, message] = [...problems][0];
  box.textContent = `${labelOf(name)}: ${message}`;
  $('#messages').replaceChildren();
}

// ----------------------------------------------------------------- address

function readAddress() {
  const q = new URLSearchParams(location.search);
  for (const el of fields()) {
    if (!q.has(el.name)) continue;
    const v = q.get(el.name);
    if (el.tagName === 'SELECT' && ![...el.options].some((o) => o.value === v)) continue;
    el.value = v;
  }
  active = TABS().includes(q.get('tab')) ? q.get('tab') : TABS()[0];
  units = field('units').value;
  syncPreset();
}

function writeAddress() {
  const q = new URLSearchParams();
  for (const el of fields()) {
    if (el.name === 'preset') continue;
    const v = el.value.trim();
    if (v !== '') q.set(el.name, v);
  }
  q.set('tab', active);
  history.replaceState(null, '', `?${q}`);
}

// ------------------------------------------------------------------ requests

// The cross-section and materials as options (only what is filled in): the
// model (every subcommand but the check, which runs both), the coating with
// the field solver (its inputs are disabled with the closed forms, the
// check's too), the loss tangent only for the subcommands that take it.
function design(r, { w = true, s = true, tlos = true, withModel = true, er = true, sr = true } = {}) {
  const body = { [K.OPTION.units]: units };
  const names = ['h', 'h2', 't', 'res'];
  if (er) names.push('er');
  if (sr) names.push('sr');
  if (tlos) names.push('tlos');
  if (w) names.push('w');
  if (s) names.push('s');
  for (const n of names) put(r, body, K.OPTION[n], n);
  if (withModel) body[K.OPTION.model] = model();
  let coat = 0;
  if (model() === K.MODEL.field) {
    const thick = r.text('coatt');
    const er = r.text('coater');
    if ((thick === '') !== (er === '') && !r.problems.has('coatt') && !r.problems.has('coater')) {
      r.fail(thick === '' ? 'coatt' : 'coater',
        thick === '' ? 'give the coating\u2019s thickness too' : 'give the coating\u2019s Er too');
    } else if (thick !== '' && er !== '') {
      body[K.OPTION.coatThickness] = thick;
      body[K.OPTION.coatEr] = er;
      coat = Number(thick);
    }
  }
  // The cover: above the strips and their coating; with the closed forms
  // at least twice H (their limit, as the dialogue asks).
  const h = r.number('h');
  const h2 = r.number('h2');
  if (!er) r.number('er');
  const t = r.number('t');
  const u = UNIT_TEXT[units];
  if (model() === K.MODEL.closed && h2 < 2 * h) {
    r.fail('h2', `must be at least twice H (${sig7(2 * h)} ${u}), or inf for no cover`);
  } else if (h2 <= t + coat) {
    r.fail('h2', `must be above T${coat ? ' + the coating' : ''} (${sig7(t + coat)} ${u})`);
  }
  return body;
}

// A board cross-section as options of `kestrelix line`: the structure, its
// dielectrics and traces (W and S unless a search finds them), the inputs
// of its kind only (the others are hidden).
function structureBody(r, { w = true, s = true } = {}) {
  const name = structure();
  const base = kind();
  const body = { [K.OPTION.units]: units, [K.OPTION.structure]: name };
  for (const n of ['h', 'er', 't']) put(r, body, K.OPTION[n], n);
  if (w) put(r, body, K.OPTION.w, 'w');
  if (s && isPair() && name !== 'broadside-pair') put(r, body, K.OPTION.s, 's');
  put(r, body, K.OPTION.etchFactor, 'ef');
  const takes = (n) => field(n).closest('label').dataset.for.split(' ').includes(base);
  const extra = [['ha', 'hAbove'], ['era', 'erAbove'], ['hb', 'hBetween'], ['erb', 'erBetween'],
    ['off', 'offset'], ['gg', 'groundGap'], ['gw', 'groundWidth']];
  for (const [n, o] of extra) if (takes(n)) put(r, body, K.OPTION[o], n);
  if (takes('mt')) {
    const thick = r.text('mt');
    const er = r.text('mer');
    if ((thick === '') !== (er === '') && !r.problems.has('mt') && !r.problems.has('mer')) {
      r.fail(thick === '' ? 'mt' : 'mer', thick === '' ? 'give the mask\u2019s thickness too' : 'give the mask\u2019s Er too');
    } else if (thick !== '') {
      body[K.OPTION.maskOverTrace] = thick;
      body[K.OPTION.maskEr] = er;
    }
  }
  return body;
}

// The drawing: the coupler's from its inputs as typed; a board
// cross-section's as the program solved it (its last line document).
function redraw() {
  if (isCoupler()) {
    drawSection($('#section'), sectionValues());
  } else {
    const st = lastStack && lastStack.structure === structure() && lastStack.units === units ? lastStack : { layers: [], conductors: [] };
    drawStructure($('#section'), { ...st, unit: unitText() });
  }
}

function keepStack(doc) {
  lastStack = { ...K.stackOf(doc, units), topPlane: doc.summary[K.LINE.topPlane] === true, structure: structure(), units };
  redraw();
}

async function call(command, body) {
  const res = await fetch(`/api/${command}`, {
    method: 'POST',
    headers: HEADERS,
    body: JSON.stringify(body),
    signal: inFlight.signal,
  });
  const messages = JSON.parse(res.headers.get('Kestrelix-Messages') || '[]');
  const data = await res.json();
  return { status: res.status, data, messages };
}

// The run of a computation whose inputs were read by `r`: null when an
// input is wrong, on the page's reading or the program's (shown beside it).
async function request(command, body, r) {
  if (r.problems.size) {
    showProblems(r.problems);
    return null;
  }
  const out = await call(command, body);
  if (out.status === 400) {
    const placed = placeError(K.error(out.data).message);
    if (placed.size) {
      showProblems(placed);
      return null;
    }
  }
  clearProblems();
  return out;
}

// --------------------------------------------------------------- reporting

function report(outcome, note = '') {
  const box = $('#status');
  box.replaceChildren();
  box.classList.toggle('error', outcome.status !== 200);
  if (outcome.status !== 200) {
    const p = document.createElement('p');
    p.textContent = inWords(K.error(outcome.data).message || `error ${outcome.status}`);
    box.append(p);
  } else if (note) {
    box.textContent = note;
  }
  const lines = [...(outcome.messages || []), ...K.error(outcome.data).details];
  const list = $('#messages');
  list.replaceChildren();
  for (const line of lines) {
    const p = document.createElement('p');
    p.textContent = inWords(line.trim());
    list.append(p);
  }
  const doc = outcome.status === 200 ? outcome.data : K.error(outcome.data).document;
  renderTable(K.rows(doc));
}

// The rows as a table, formed when the box is open (hundreds of rows cost
// more to lay out than the plots).
let tableRows = [];
function renderTable(rows) {
  tableRows = rows;
  const box = $('#table');
  box.replaceChildren();
  $('#table-box').hidden = rows.length === 0;
  if (rows.length === 0 || !$('#table-box').open) return;
  const table = document.createElement('table');
  // A line document's rows are of several kinds, each filling its own
  // columns: the columns no row fills are left out.
  const cols = Object.keys(rows[0]).filter((k) => !K.VALIDITY.includes(k)
    && (isCoupler() || rows.some((r) => r[k] !== null)));
  const head = table.createTHead().insertRow();
  for (const c of [...cols, 'flags']) {
    const th = document.createElement('th');
    th.textContent = c;
    head.append(th);
  }
  const body = table.createTBody();
  for (const r of rows.slice(0, 2000)) {
    const tr = body.insertRow();
    const f = K.flags(r);
    if (f.length) tr.className = 'flagged';
    for (const c of cols) {
      tr.insertCell().textContent = r[c] === null ? '' : String(r[c]);
    }
    tr.insertCell().textContent = f.join(' ');
  }
  box.append(table);
}

function figures(list, items) {
  list.replaceChildren();
  for (const [label, value, id] of items) {
    const dt = document.createElement('dt');
    dt.textContent = label;
    const dd = document.createElement('dd');
    dd.textContent = value === undefined || value === null ? '\u2013' : String(value);
    if (id) dd.id = id;
    list.append(dt, dd);
  }
}

const unitText = () => UNIT_TEXT[units];
const flagText = (code) => `${K.FLAG_TEXT[code] || code} (${code})`;

// A value rounded outward to three significant digits.
function round3(x, up) {
  const p = 10 ** (Math.floor(Math.log10(x)) - 2);
  return Number(((up ? Math.ceil(x / p - 1e-9) : Math.floor(x / p + 1e-9)) * p).toPrecision(3));
}

// The analysis tab's sweep when none is given: around the design's W (half
// to one and a half) or S (a quarter to four times), inside the models'
// ranges (W/H 0.1 to 10; S/H 0.1 to 8 and S at least 2 T) where they allow.
function autoRange(by, centre, h, t) {
  let [lo, hi] = by === 'w' ? [0.5 * centre, 1.5 * centre] : [0.25 * centre, 4 * centre];
  const margin = 1.0005;  // clear of the ranges' ends after rounding to float
  const [min, max] = by === 'w' ? [0.1 * h * margin, 10 * h / margin]
    : [Math.max(0.1 * h, 2 * t) * margin, 8 * h / margin];
  if (Math.max(lo, min) < Math.min(hi, max)) {
    lo = Math.max(lo, min);
    hi = Math.min(hi, max);
  }
  lo = round3(lo, true);
  hi = round3(hi, false);
  return [lo, hi, round3((hi - lo) / AUTO_STEPS, true)].map(sig7);
}

// --------------------------------------------------------------- the tabs

const compute = {
  async synthesis(r) {
    const body = design(r, { w: false, s: false });
    put(r, body, K.OPTION.zo, 'zo');
    put(r, body, K.OPTION.coupling, 'cpl');
    put(r, body, K.OPTION.f, 'fsyn');
    const out = await request('synthesise', body, r);
    const row = out && out.status === 200 ? K.rows(out.data)[0] : null;
    lastSynthesis = row || null;
    $('#syn-use').disabled = !row;
    if (!out) return;
    const quarter = row ? K.get(row, 'quarterWave', units) : undefined;
    const u = unitText();
    figures($('#syn-figures'), row ? [
      [`W ${u}`, K.get(row, 'w', units), 'syn-w'],
      [`S ${u}`, K.get(row, 's', units), 'syn-s'],
      [`Quarter wave ${u}`, quarter, 'syn-length'],
      ['Zoe ohm', K.get(row, 'zoe')],
      ['Zoo ohm', K.get(row, 'zoo')],
      ['Zo ohm (analysed)', K.get(row, 'anZo')],
      ['Coupling dB (analysed)', K.get(row, 'anCoupling')],
      ['Eff. Er even', K.get(row, 'effE')],
      ['Eff. Er odd', K.get(row, 'effO')],
    ] : []);
    report(out);
  },

  async analysis(r) {
    const by = field('sweep').value;
    const body = design(r, { w: by !== 'w', s: by !== 's' });
    const given = ['amin', 'amax', 'astep'].map((n) => r.text(n));
    let range = given;
    if (given.includes('')) {
      const auto = autoRange(by, r.number(by), r.number('h'), r.number('t'));
      range = given.map((v, k) => v || auto[k]);
    }
    if (Number(range[0]) >= Number(range[1])) r.fail(given[1] ? 'amax' : 'amin', `the sweep must run from low to high (${range[0]} to ${range[1]})`);
    body[by === 'w' ? K.OPTION.wRange : K.OPTION.sRange] = range.join(':');
    put(r, body, K.OPTION.f, 'fa');
    const out = await request('analyse', body, r);
    if (!out) return;
    const rows = K.rows(out.status === 200 ? out.data : K.error(out.data).document);
    const x = (r_) => K.get(r_, by, units);
    const series = (label, name, right = false) => ({
      label, right, points: rows.map((row) => [x(row), K.get(row, name), K.flags(row)]),
    });
    Plot.lines('chart-analysis', `${by.toUpperCase()} ${unitText()}`, [
      series('Zo ohm', 'zo'), series('Zoe ohm', 'zoe'), series('Zoo ohm', 'zoo'),
      series('Coupling dB', 'coupling', true),
    ], { left: 'ohm', right: 'dB' }, flagText);
    const flagged = rows.filter((row) => K.flags(row).length).length;
    report(out, `${rows.length} points: ${by.toUpperCase()} from ${range[0]} to ${range[1]} in steps of ${range[2]}`
      + (flagged ? `; ${flagged} flagged (triangles)` : ''));
  },

  async response(r) {
    const body = design(r);
    r.order('fstart', 'fstop', 'from');
    body[K.OPTION.fRange] = ['fstart', 'fstop', 'fstep'].map((n) => r.text(n)).join(':');
    if (field('lmode').value === 'length') put(r, body, K.OPTION.length, 'len');
    else put(r, body, K.OPTION.centre, 'centre');
    put(r, body, K.OPTION.rs, 'rs');
    put(r, body, K.OPTION.rl, 'rl');
    $('#touchstone').href = `/api/touchstone?${new URLSearchParams(body)}`;
    const out = await request('response', body, r);
    if (!out) return;
    const rows = K.rows(out.status === 200 ? out.data : K.error(out.data).document);
    const f = (row) => K.get(row, 'f');
    const series = (label, value, right = false) => ({
      label, right, points: rows.map((row) => [f(row), value(row), K.flags(row)]),
    });
    Plot.lines('chart-response', 'f GHz', [
      series('|S11| dB', (row) => K.get(row, 's11')),
      series('|S21| dB (coupled)', (row) => K.get(row, 's21')),
      series('|S31| dB (isolated)', (row) => K.get(row, 's31')),
      series('|S41| dB (thru)', (row) => K.get(row, 's41')),
    ], { left: 'dB' }, flagText);
    Plot.lines('chart-directivity', 'f GHz', [
      series('Directivity dB', (row) => K.get(row, 's21') - K.get(row, 's31')),
      series('Phase error deg', (row) => K.get(row, 'phaseError'), true),
    ], { left: 'dB', right: 'deg' }, flagText);
    report(out, `${rows.length} frequencies`);
  },

  async tolerance(r) {
    const body = design(r);
    put(r, body, K.OPTION.f, 'tf');
    put(r, body, K.OPTION.centre, 'tcentre');
    for (const p of K.TOLERANCE_PARAMS) {
      // An open section has no H2 to vary: its tolerance is left out.
      if (p === 'h2' && body[K.OPTION.h2] === K.OPEN) {
        if (r.text('tolh2') !== '' && Number(r.text('tolh2').replace('%', '')) !== 0) r.fail('tolh2', 'must be 0: there is no cover (H2 inf)');
        continue;
      }
      put(r, body, K.OPTION.tol[p], `tol${p}`);
    }
    body[K.OPTION.dist] = field('dist').value;
    put(r, body, K.OPTION.samples, 'samples');
    put(r, body, K.OPTION.seed, 'seed');
    // With a length the coupling is the coupler's |S21|, which a band
    // holds at each of its frequencies; else the cross-section's.
    const fourPort = body[K.OPTION.centre] !== undefined;
    const coupling = fourPort ? K.FIGURE.coupled : K.FIGURE.coupling;
    const band = ['bstart', 'bstop', 'bstep'].map((n) => r.text(n));
    if (band.some((v) => v !== '')) {
      band.forEach((v, k) => { if (v === '') r.fail(['bstart', 'bstop', 'bstep'][k], 'needed for a band'); });
      r.order('bstart', 'bstop', 'band from');
      if (!fourPort) r.fail('tcentre', 'needed for a band: the coupler\u2019s quarter wave');
      body[K.OPTION.fRange] = band.join(':');
    }
    const limits = [];
    const limit = (name, lo, hi) => {
      const a = r.text(lo);
      const b = r.text(hi);
      if (a !== '' && b !== '') r.order(lo, hi, 'the minimum');
      if (a !== '' || b !== '') limits.push(`${name}=${a}:${b}`);
    };
    limit(coupling, 'cmin', 'cmax');
    limit(K.FIGURE.zo, 'zmin', 'zmax');
    if (limits.length) body[K.OPTION.limit] = limits;
    if (!r.problems.size) $('#status').textContent = `Sampling ${text('samples') || 'the default number of'} boards\u2026`;
    const out = await request('tolerance', body, r);
    if (!out) return;
    if (out.status !== 200) {
      report(out);
      return;
    }
    const t = K.tolerance(out.data);
    const inputs = out.data.inputs || {};
    const f = inputs[K.INPUT.f];
    const ends = (name) => {
      const l = t.limits.find((x) => x.figure === name);
      return l ? [l.min, l.max] : [];
    };
    const label = fourPort ? `Coupling of the coupler, |S21| at ${f} GHz, dB`
      : `Coupling of the cross-section (lossless) at ${f} GHz, dB`;
    Plot.histogram('chart-hist-coupling', { label, f: t.figures[coupling], limits: ends(coupling) });
    const overBand = t.limits.some((l) => l.figure === coupling && l.overBand);
    $('#tol-note').textContent = overBand
      ? `The yield counts a board when its coupling stays within the limits at every frequency from ${inputs[K.INPUT.bandStart]} to ${inputs[K.INPUT.bandStop]} GHz; the histogram is its coupling at ${f} GHz.`
      : `The coupling limit and its yield are on this figure (${coupling}).`;
    Plot.histogram('chart-hist-zo', { label: 'Zo, ohm', f: t.figures[K.FIGURE.zo], limits: ends(K.FIGURE.zo) });
    Plot.shares('chart-share', [
      { label: fourPort ? 'Coupling (coupler)' : 'Coupling', f: t.figures[coupling] },
      { label: 'Zo', f: t.figures[K.FIGURE.zo] },
    ]);
    yieldTable(t);
    const method = {
      [K.FIELD_METHOD.fast]: '; every sample its own field solution, from the solver\u2019s tables',
      [K.FIELD_METHOD.local]: '; every sample its own field solution, from a local model of the solver\u2019s direct solutions',
      [K.FIELD_METHOD.direct]: '; every sample solved by the field solver',
    }[t.fieldMethod] || '';
    report(out, `${t.valid} of ${t.samples} samples inside the models' validity${method}`);
  },

  async diffpair(r) {
    // What is found decides what is given: S needs W and Zdiff, W needs S
    // and Zdiff, both need Zdiff and Zcomm.
    const find = field('find').value;
    const body = design(r, {
      w: find === 'none' || find === 's', s: find === 'none' || find === 'w', tlos: false,
    });
    put(r, body, K.OPTION.f, 'fd');
    if (find !== 'none') put(r, body, K.OPTION.zdiff, 'zdiff');
    if (find === 'w_s') put(r, body, K.OPTION.zcomm, 'zcomm');
    const out = await request('diffpair', body, r);
    if (!out) return;
    const row = out.status === 200 ? K.rows(out.data)[0] : null;
    figures($('#dp-figures'), row ? Object.entries(row)
      .filter(([k]) => !K.VALIDITY.includes(k)).map(([k, v]) => [K.label(k), v]) : []);
    report(out);
  },

  async loss(r) {
    // The dielectric: the design's Er and loss tangent, a typed datasheet
    // pair, or a material by name (each gives the substrate's Er).
    // A board cross-section: each layer's Er and loss tangent as a
    // datasheet pair (the design's, or the typed Dk and Df), or a material
    // in every layer.
    const mat = field('lmat').value;
    const rough = field('lrough').value;
    let body;
    if (isCoupler()) {
      body = design(r, { er: mat === 'design', tlos: mat === 'design', sr: rough === '', withModel: false });
    } else {
      body = structureBody(r);
      if (mat !== 'design') delete body[K.OPTION.er];
      if (mat === 'design') put(r, body, K.OPTION.tand, 'tlos');
    }
    r.order('lfstart', 'lfstop', 'from');
    body[K.OPTION.fRange] = ['lfstart', 'lfstop', 'lfstep'].map((n) => r.text(n)).join(':');
    if (mat === 'typed' && !isCoupler()) {
      put(r, body, K.OPTION.er, 'ldk');
      put(r, body, K.OPTION.tand, 'ldf');
      put(r, body, K.OPTION.fDatasheet, 'lfspec');
    } else if (mat === 'typed') {
      put(r, body, K.OPTION.dk, 'ldk');
      put(r, body, K.OPTION.df, 'ldf');
      put(r, body, K.OPTION.fDatasheet, 'lfspec');
    } else if (mat !== 'design') {
      body[K.OPTION.material] = mat;
    }
    if (field('ldmodel').value) body[K.OPTION.dielectricModel] = field('ldmodel').value;
    if (rough === 'smooth') {
      body[K.OPTION.roughness] = 'smooth';
    } else if (rough === 'huray') {
      body[K.OPTION.roughness] = `huray:radius=${r.text('lrad')},spheres=${r.text('lsph')},side=${r.text('lside')}`;
    } else if (rough) {
      body[K.OPTION.roughness] = `${rough}:rq=${r.text('lrq')}`;
    }
    const out = await request('loss', body, r);
    if (!out) return;
    if (!isCoupler() && out.status === 200) {
      // The cross-section for the drawing, with the Er the loss run took
      // (a material's Dk, a typed Dk): one solution more.
      const nominalBody = structureBody(new Reader());
      const inputs = out.data.inputs || {};
      nominalBody[K.OPTION.er] = inputs[K.OPTION.dk] ?? inputs[K.OPTION.er] ?? nominalBody[K.OPTION.er];
      const nominal = await call('line', nominalBody);
      if (nominal.status === 200) keepStack(nominal.data);
    }
    const rows = K.rows(out.status === 200 ? out.data : K.error(out.data).document);
    // dB per unit to dB per 100 mm (metric units) or per inch.
    const [scale, per] = { mm: [100, '100 mm'], um: [1e5, '100 mm'], in: [1, 'in'], mil: [1000, 'in'] }[units];
    const key = (name) => `${name}_db_per_${units}`;
    const series = (label, name) => ({
      label, points: rows.map((row) => [K.get(row, 'f'), scale * row[key(name)], []]),
    });
    Plot.lines('chart-loss', 'f GHz', isPair() ? [
      series('Differential, total', 'alpha_diff'), series('Differential, conductor', 'alpha_c_diff'),
      series('Differential, dielectric', 'alpha_d_diff'), series('Common, total', 'alpha_comm'),
      series('Common, conductor', 'alpha_c_comm'), series('Common, dielectric', 'alpha_d_comm'),
    ] : [
      series('Total', 'alpha'), series('Conductor', 'alpha_c'), series('Dielectric', 'alpha_d'),
    ], { left: `insertion loss, dB per ${per}` });
    report(out, `${rows.length} frequencies; dB per ${per}`);
  },

  async line(r) {
    const body = structureBody(r);
    if (field('lacc').value !== 'standard') body[K.OPTION.accuracy] = field('lacc').value;
    put(r, body, K.OPTION.neighbour, 'nb');
    const out = await request('line', body, r);
    if (!out) return;
    if (out.status === 200) keepStack(out.data);
    const rows = out.status === 200 ? K.rows(out.data) : [];
    figures($('#line-figures'), lineFigures(rows));
    const sum = out.status === 200 ? out.data.summary : {};
    report(out, out.status === 200 ? `Field solver: ${sum.solves} solution${sum.solves === 1 ? '' : 's'}, ${sum.panels} panels` : '');
  },

  async linesyn(r) {
    // What is found decides what is given: a line's W for Z0; a pair's S
    // (W given), W (S given), both at a pitch or for Zdiff and Zcomm.
    const find = isPair() ? field('lfind').value : 'w';
    const body = structureBody(r, { w: find === 's', s: find === 'w' });
    if (!isPair()) put(r, body, K.OPTION.z0, 'lz0');
    else put(r, body, K.OPTION.zdiff, 'lzdiff');
    if (find === 'pitch') put(r, body, K.OPTION.pitch, 'lpitch');
    if (find === 'w_s') put(r, body, K.OPTION.zcomm, 'lzcomm');
    const out = await request('line', body, r);
    lastLineSynthesis = null;
    if (!out) return;
    const ok = out.status === 200;
    if (ok) {
      keepStack(out.data);
      lastLineSynthesis = { w: out.data.summary[`w_${units}`], s: out.data.summary[`s_${units}`] };
    }
    $('#linesyn-use').disabled = !ok;
    const u = unitText();
    figures($('#linesyn-figures'), ok ? [
      [`W ${u}`, lastLineSynthesis.w, 'linesyn-w'],
      ...(isPair() && structure() !== 'broadside-pair' ? [[`S ${u}`, lastLineSynthesis.s, 'linesyn-s']] : []),
      ...lineFigures(K.rows(out.data), 'linesyn'),
    ] : []);
    report(out);
  },

  async linetol(r) {
    const body = structureBody(r);
    const tols = [['h', 'sth'], ['er', 'ster'], ['w', 'stw'], ['t', 'stt'], ['etch', 'stetch']];
    if (isPair() && structure() !== 'broadside-pair') tols.push(['s', 'sts']);
    for (const [p, n] of tols) put(r, body, `tol-${p}`, n);
    put(r, body, K.OPTION.samples, 'stn');
    const figure = isPair() ? 'zdiff' : 'z0';
    const a = r.text('stmin');
    const b = r.text('stmax');
    if (a !== '' && b !== '') r.order('stmin', 'stmax', 'the minimum');
    if (a !== '' || b !== '') body[K.OPTION.limit] = [`${figure}=${a}:${b}`];
    if (!tols.some(([, n]) => Number(text(n).replace('%', '')) > 0)) r.fail('sth', 'give at least one tolerance above 0');
    if (!r.problems.size) $('#status').textContent = `Solving ${text('stn')} boards\u2026`;
    const out = await request('line', body, r);
    if (!out) return;
    if (out.status === 200) {
      // The nominal cross-section for the drawing: one solution more.
      const nominal = await call('line', structureBody(new Reader()));
      if (nominal.status === 200) keepStack(nominal.data);
    }
    if (out.status !== 200) {
      report(out);
      return;
    }
    const t = K.tolerance(out.data, K.STACK_TOLERANCE_PARAMS);
    const l = t.limits.find((x) => x.figure === figure);
    const label = `${figure === 'z0' ? 'Z0' : 'Zdiff'}, ohm`;
    Plot.histogram('chart-linetol', { label, f: t.figures[figure], limits: l ? [l.min, l.max] : [] });
    Plot.shares('chart-linetol-share', [{ label, f: t.figures[figure] }]);
    yieldTable(t, '#linetol-yield');
    report(out, `${t.valid} of ${t.samples} samples solved`);
  },

  async check(r) {
    const body = design(r, { tlos: false, withModel: false });
    put(r, body, K.OPTION.f, 'fc');
    const out = await request('check', body, r);
    if (!out) return;
    const ok = out.status === 200;
    $('#check-verdict').textContent = ok ? inWords(out.data.summary[K.CHECK.verdict]) : '';
    // The advice as one click: the closed forms are off, the page uses them.
    const off = ok && out.data.summary[K.CHECK.off] === true;
    $('#check-use-field').hidden = !(off && model() !== K.MODEL.field);
    $('#check-note').textContent = off && model() === K.MODEL.field
      ? 'The page uses the field solver already.' : '';
    // Each figure: closed forms, field solver and their difference.
    const fix = (v, d) => (typeof v === 'number' ? v.toFixed(d) : '\u2013');
    figures($('#check-figures'), ok ? K.rows(out.data).map((row) => {
      const c = K.CHECK;
      return [K.label(row[c.quantity]),
        `${fix(row[c.closed], 3)} closed forms, ${fix(row[c.field], 3)} field (${fix(row[c.difference], 2)} %)`];
    }) : []);
    report(out);
  },
};

const FIGURE_TEXT = {
  [K.FIGURE.coupled]: 'coupling of the coupler (|S21|)',
  [K.FIGURE.coupling]: 'coupling of the cross-section',
  [K.FIGURE.zo]: 'Zo',
};

// A line document's figures in words: each line's, the pair's, the crosstalk.
const fixed = (v, d) => (typeof v === 'number' ? v.toFixed(d) : '\u2013');
function lineFigures(rows, id = 'line') {
  const u = unitText();
  const out = [];
  const per = `ps/${u}`;
  for (const row of rows) {
    if (row.kind === K.LINE.line && rows.every((x) => x.kind !== K.LINE.pair)) {
      out.push(['Z0 ohm', fixed(row.z0_ohm, 3), `${id}-z0`], ['Effective Er', fixed(row.eff, 4)],
        [`Delay ${per}`, fixed(row[`delay_ps_per_${units}`], 3)], ['Error estimate %', fixed(row.field_error_pct, 3)]);
    } else if (row.kind === K.LINE.pair) {
      out.push(['Zdiff ohm', fixed(row.zdiff_ohm, 3), `${id}-zdiff`], ['Zcomm ohm', fixed(row.zcomm_ohm, 3)],
        ['Zoe ohm', fixed(row.zoe_ohm, 3)], ['Zoo ohm', fixed(row.zoo_ohm, 3)],
        ['Effective Er, even', fixed(row.eff_e, 4)], ['Effective Er, odd', fixed(row.eff_o, 4)],
        [`Delay, even ${per}`, fixed(row[`delay_e_ps_per_${units}`], 3)],
        [`Delay, odd ${per}`, fixed(row[`delay_o_ps_per_${units}`], 3)],
        ['Error estimate %', fixed(row.field_error_pct, 3)]);
    } else if (row.kind === K.LINE.crosstalk) {
      out.push([`Crosstalk, ${row.name}: backward kb`, Number(row.kb).toPrecision(4)],
        [`forward kf per length ${per}`, Number(row[`kf_per_length_ps_per_${units}`]).toPrecision(4)]);
    }
  }
  return out;
}

function yieldTable(t, where = '#tol-yield') {
  const box = $(where);
  box.replaceChildren();
  const table = document.createElement('table');
  const head = table.createTHead().insertRow();
  for (const h of ['limit', 'over the band', 'passed', 'of', 'yield %', '95 % interval']) {
    const th = document.createElement('th');
    th.textContent = h;
    head.append(th);
  }
  const b = table.createTBody();
  for (const l of [...t.limits, ...(t.joint ? [t.joint] : [])]) {
    const tr = b.insertRow();
    const name = FIGURE_TEXT[l.figure] || l.figure;
    const range = l.figure === 'all limits' ? '' : ` ${l.min ?? ''} to ${l.max ?? ''}`;
    const fix = (v) => (typeof v === 'number' ? v.toFixed(2) : '');
    for (const v of [`${name}${range}`, l.overBand ? 'yes' : 'no', l.passed, l.count, fix(l.yield), `${fix(l.low)} to ${fix(l.high)}`]) {
      tr.insertCell().textContent = String(v);
    }
  }
  box.append(table);
}

// ---------------------------------------------------------------- running

// The next frame (or a tenth of a second in a tab out of sight, which has none).
const nextFrame = () => new Promise((resolve) => {
  requestAnimationFrame(() => resolve());
  setTimeout(resolve, 100);
});

async function run() {
  if (inFlight) inFlight.abort();
  inFlight = new AbortController();
  const mine = inFlight;
  const started = performance.now();
  const edit = lastEdit;
  const results = $('#results');
  results.setAttribute('aria-busy', 'true');
  try {
    if (optional[active] === false) {
      $('#status').textContent = 'not available in this build';
      $('#messages').replaceChildren();
      renderTable([]);
    } else {
      await compute[active](new Reader());
    }
  } catch (e) {
    if (e.name === 'AbortError') return;
    $('#status').textContent = `no answer from the program: ${e.message}`;
  } finally {
    if (mine === inFlight) {
      // Timed to the frame that shows the result: since the run began, since
      // the edit that asked for it, since the page's navigation began.
      await nextFrame();
      if (mine === inFlight) {
        const now = performance.now();
        results.removeAttribute('aria-busy');
        results.dataset.ms = String(Math.round(now - started));
        if (edit !== null) results.dataset.editMs = String(Math.round(now - edit));
        if (lastEdit === edit) lastEdit = null;
        if (!results.dataset.firstMs) results.dataset.firstMs = String(Math.round(now));
        results.dataset.runs = String(++runs);
        results.dataset.tab = active;
      }
    }
  }
}

function schedule() {
  clearTimeout(timer);
  timer = setTimeout(run, DEBOUNCE_MS);
}

function select(tab, focus = false) {
  active = TABS().includes(tab) ? tab : TABS()[0];
  for (const b of $$('[role="tab"]')) {
    const on = b.dataset.tab === active;
    b.setAttribute('aria-selected', String(on));
    b.tabIndex = on ? 0 : -1;
    if (on && focus) b.focus();
  }
  for (const p of $$('[role="tabpanel"]')) p.hidden = p.id !== `panel-${active}`;
  writeAddress();
  run();
}

// Optional subcommands: a 404 says this build has none.
async function probe() {
  await Promise.all(Object.keys(optional).map(async (name) => {
    try {
      const res = await fetch(`/api/${name}`, {
        method: 'POST', headers: HEADERS, body: '{}',
      });
      optional[name] = res.status !== 404;
    } catch {
      optional[name] = false;
    }
    if (optional[name] === false) {
      $(`#tab-${name}`).classList.add('unavailable');
      for (const el of $$(`#panel-${name} input, #panel-${name} select`)) el.disabled = true;
      const p = document.createElement('p');
      p.className = 'note';
      p.textContent = 'Not available in this build.';
      $(`#panel-${name}`).prepend(p);
    }
  }));
}

// The inputs a mode leaves unused are disabled: the length or the centre
// frequency of the response, the targets of the differential pair, the
// coating with the closed forms.
function modes() {
  const given = field('lmode').value === 'length';
  field('len').disabled = !given;
  field('centre').disabled = given;
  if (optional.diffpair !== false) {
    field('zdiff').disabled = field('find').value === 'none';
    field('zcomm').disabled = field('find').value !== 'w_s';
  }
  const closed = model() === K.MODEL.closed;
  field('coatt').disabled = closed;
  field('coater').disabled = closed;
  const typed = field('lmat').value === 'typed';
  for (const n of ['ldk', 'ldf', 'lfspec']) field(n).disabled = !typed;
  const rough = field('lrough').value;
  field('lrq').disabled = !['hammerstad-bekkadal', 'groisse'].includes(rough);
  for (const n of ['lrad', 'lsph', 'lside']) field(n).disabled = rough !== 'huray';
  // The structure's searches: a line's W for Z0, a pair's by Zdiff.
  const pair = isPair();
  const broadside = structure() === 'broadside-pair';
  for (const o of field('lfind').options) o.disabled = !pair ? o.value !== 'w' : broadside && o.value !== 'w';
  if (field('lfind').selectedOptions[0].disabled) field('lfind').value = 'w';
  const find = pair ? field('lfind').value : 'w';
  field('lfind').disabled = !pair || broadside;
  field('lz0').disabled = pair;
  field('lzdiff').disabled = !pair;
  field('lzcomm').disabled = !pair || find !== 'w_s';
  field('lpitch').disabled = !pair || find !== 'pitch';
  field('sts').disabled = !pair || broadside;
}

// The coupler's inputs and tabs, or a board cross-section's: the inputs
// its kind takes (data-for: the structures by name, "pair" for the gap;
// data-only: the coupler's or every structure's).
function applyMode() {
  const coupler = isCoupler();
  const base = kind();
  for (const el of $$('[data-only]')) el.hidden = (el.dataset.only === COUPLER) !== coupler;
  for (const el of $$('[data-for]')) {
    const kinds = el.dataset.for.split(' ');
    el.hidden = kinds.includes('pair') ? !(isPair() && structure() !== 'broadside-pair')
      : !(kinds.includes('all') || (coupler ? kinds.includes(COUPLER) : kinds.includes(base)));
  }
  for (const b of $$('[role="tab"]')) b.hidden = !TABS().includes(b.dataset.tab);
  $('#subtitle').textContent = coupler ? 'edge-coupled microstrip coupler'
    : `${field('structure').selectedOptions[0].textContent.toLowerCase()} on the field solver`;
  modes();
}

function onInput(el) {
  lastEdit = performance.now();
  if (['lmode', 'find', 'model', 'lmat', 'lrough', 'lfind'].includes(el.name)) modes();
  if (el.name === 'structure') {
    applyMode();
    if (!TABS().includes(active)) select(TABS()[0]);
  }
  if (el.name === 'units') {
    convertLengths(units, el.value);
    units = el.value;
    showUnits();
  } else if (el.name === 'preset') {
    if (el.value !== '') field('er').value = el.value;
  } else if (el.name === 'er') {
    syncPreset();
  }
  redraw();
  writeAddress();
  schedule();
}

function sectionValues() {
  const v = {};
  for (const n of ['er', 'h', 'h2', 't', 'w', 's']) v[n] = Number(text(n));
  if (/^inf(inity)?$/i.test(text('h2'))) v.h2 = Infinity;
  v.coat = model() === K.MODEL.field && text('coatt') !== '' ? Number(text('coatt')) : 0;
  v.unit = unitText();
  return v;
}

function start() {
  readAddress();
  showUnits();
  applyMode();
  document.addEventListener('input', (e) => {
    if (e.target.matches('input[name], select[name]')) onInput(e.target);
  });
  for (const f of $$('form')) f.addEventListener('submit', (e) => e.preventDefault());
  $('#tabs').addEventListener('click', (e) => {
    const b = e.target.closest('[role="tab"]');
    if (b) select(b.dataset.tab);
  });
  $('#tabs').addEventListener('keydown', (e) => {
    const tabs = TABS();
    const i = tabs.indexOf(active);
    const next = { ArrowRight: i + 1, ArrowLeft: i - 1, Home: 0, End: tabs.length - 1 }[e.key];
    if (next === undefined) return;
    e.preventDefault();
    select(tabs[(next + tabs.length) % tabs.length], true);
  });
  $('#table-box').addEventListener('toggle', () => renderTable(tableRows));
  $('#syn-use').addEventListener('click', () => {
    if (!lastSynthesis) return;
    field('w').value = String(K.get(lastSynthesis, 'w', units));
    field('s').value = String(K.get(lastSynthesis, 's', units));
    onInput(field('w'));
  });
  $('#check-use-field').addEventListener('click', () => {
    field('model').value = K.MODEL.field;
    onInput(field('model'));
  });
  $('#linesyn-use').addEventListener('click', () => {
    if (!lastLineSynthesis) return;
    field('w').value = String(lastLineSynthesis.w);
    if (lastLineSynthesis.s !== undefined && lastLineSynthesis.s !== null) field('s').value = String(lastLineSynthesis.s);
    onInput(field('w'));
  });
  Plot.followTheme();
  redraw();
  // The first computation does not wait for the probe unless its tab is
  // one the probe may find missing.
  const probing = probe();
  if (active in optional) probing.then(() => select(active));
  else select(active);
}

start();
