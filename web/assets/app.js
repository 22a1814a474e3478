// The page: one design form, six computations on tabs, recomputed as the
// user types. Every number comes from the program's JSON API (/api/NAME,
// the subcommand NAME's document); the whole design lives in the address.
import * as K from './keys.js';
import { drawSection } from './section.js';
import * as Plot from './plots.js';

const $ = (sel, root = document) => root.querySelector(sel);
const $$ = (sel, root = document) => [...root.querySelectorAll(sel)];

const PER_INCH = { in: 1, mil: 1000, mm: 25.4, um: 25400 };
const TABS = ['synthesis', 'analysis', 'response', 'tolerance', 'diffpair', 'check'];
const UNIT_TEXT = { in: 'in', mil: 'mil', mm: 'mm', um: '\u00b5m' };
const DEBOUNCE_MS = 200;

let units = 'mm';
let active = 'synthesis';
const optional = { diffpair: null, check: null };  // null: not known yet
let inFlight = null;  // AbortController of the run in progress
let timer = 0;
let lastSynthesis = null;
let runs = 0;

// ------------------------------------------------------------------ fields

const fields = () => $$('input[name], select[name]');
const field = (name) => $(`[name="${name}"]`);
const text = (name) => (field(name) ? field(name).value.trim() : '');

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

// ----------------------------------------------------------------- address

function readAddress() {
  const q = new URLSearchParams(location.search);
  for (const el of fields()) {
    if (!q.has(el.name)) continue;
    const v = q.get(el.name);
    if (el.tagName === 'SELECT' && ![...el.options].some((o) => o.value === v)) continue;
    el.value = v;
  }
  if (TABS.includes(q.get('tab'))) active = q.get('tab');
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

// The cross-section and materials as options (only what is filled in);
// the loss tangent only for the subcommands that take it.
function design({ w = true, s = true, tlos = true } = {}) {
  const body = { [K.OPTION.units]: units };
  const names = ['er', 'h', 'h2', 't', 'res', 'sr'];
  if (tlos) names.push('tlos');
  if (w) names.push('w');
  if (s) names.push('s');
  for (const n of names) if (text(n) !== '') body[K.OPTION[n]] = text(n);
  return body;
}

function put(body, option, name) {
  if (text(name) !== '') body[option] = text(name);
}

async function call(command, body) {
  const res = await fetch(`/api/${command}`, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
    signal: inFlight.signal,
  });
  const messages = JSON.parse(res.headers.get('Kestrelix-Messages') || '[]');
  const data = await res.json();
  return { status: res.status, data, messages };
}

// --------------------------------------------------------------- reporting

function report(outcome, note = '') {
  const box = $('#status');
  box.replaceChildren();
  box.classList.toggle('error', outcome.status !== 200);
  if (outcome.status !== 200) {
    const p = document.createElement('p');
    p.textContent = K.error(outcome.data).message || `error ${outcome.status}`;
    box.append(p);
  } else if (note) {
    box.textContent = note;
  }
  const lines = [...(outcome.messages || []), ...K.error(outcome.data).details];
  const list = $('#messages');
  list.replaceChildren();
  for (const line of lines) {
    const p = document.createElement('p');
    p.textContent = line.trim();
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
  const cols = Object.keys(rows[0]).filter((k) => !K.VALIDITY.includes(k));
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

// --------------------------------------------------------------- the tabs

const compute = {
  async synthesis() {
    const body = design({ w: false, s: false });
    put(body, K.OPTION.zo, 'zo');
    put(body, K.OPTION.coupling, 'cpl');
    put(body, K.OPTION.f, 'fsyn');
    const out = await call('synthesise', body);
    const row = out.status === 200 ? K.rows(out.data)[0] : null;
    lastSynthesis = row || null;
    $('#syn-use').disabled = !row;
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

  async analysis() {
    const by = field('sweep').value;
    const body = design({ w: by !== 'w', s: by !== 's' });
    const centre = Number(text(by));
    const auto = (k) => sig7(Number((centre * k).toPrecision(3)));
    const range = [
      text('amin') || auto(by === 'w' ? 0.5 : 0.25),
      text('amax') || auto(by === 'w' ? 1.5 : 4),
      text('astep') || auto(by === 'w' ? 0.05 : 0.1),
    ].join(':');
    body[by === 'w' ? K.OPTION.wRange : K.OPTION.sRange] = range;
    put(body, K.OPTION.f, 'fa');
    const out = await call('analyse', body);
    const rows = K.rows(out.status === 200 ? out.data : K.error(out.data).document);
    const x = (r) => K.get(r, by, units);
    Plot.lines('chart-analysis', `${by.toUpperCase()} ${unitText()}`, [
      { label: 'Zo ohm', points: rows.map((r) => [x(r), K.get(r, 'zo')]) },
      { label: 'Zoe ohm', points: rows.map((r) => [x(r), K.get(r, 'zoe')]) },
      { label: 'Zoo ohm', points: rows.map((r) => [x(r), K.get(r, 'zoo')]) },
      { label: 'Coupling dB', points: rows.map((r) => [x(r), K.get(r, 'coupling')]), right: true },
    ], { left: 'ohm', right: 'dB' });
    const [a, b, step] = range.split(':');
    report(out, `${rows.length} points: ${by.toUpperCase()} from ${a} to ${b} in steps of ${step}`);
  },

  async response() {
    const body = design();
    body[K.OPTION.fRange] = `${text('fstart')}:${text('fstop')}:${text('fstep')}`;
    if (field('lmode').value === 'length') put(body, K.OPTION.length, 'len');
    else put(body, K.OPTION.centre, 'centre');
    put(body, K.OPTION.rs, 'rs');
    put(body, K.OPTION.rl, 'rl');
    $('#touchstone').href = `/api/touchstone?${new URLSearchParams(body)}`;
    const out = await call('response', body);
    const rows = K.rows(out.status === 200 ? out.data : K.error(out.data).document);
    const f = (r) => K.get(r, 'f');
    Plot.lines('chart-response', 'f GHz', [
      { label: '|S11| dB', points: rows.map((r) => [f(r), K.get(r, 's11')]) },
      { label: '|S21| dB (coupled)', points: rows.map((r) => [f(r), K.get(r, 's21')]) },
      { label: '|S31| dB (isolated)', points: rows.map((r) => [f(r), K.get(r, 's31')]) },
      { label: '|S41| dB (thru)', points: rows.map((r) => [f(r), K.get(r, 's41')]) },
    ], { left: 'dB' });
    Plot.lines('chart-directivity', 'f GHz', [
      { label: 'Directivity dB', points: rows.map((r) => [f(r), K.get(r, 's21') - K.get(r, 's31')]) },
      { label: 'Phase error deg', points: rows.map((r) => [f(r), K.get(r, 'phaseError')]), right: true },
    ], { left: 'dB', right: 'deg' });
    report(out, `${rows.length} frequencies`);
  },

  async tolerance() {
    const body = design();
    put(body, K.OPTION.f, 'tf');
    put(body, K.OPTION.centre, 'tcentre');
    for (const p of ['w', 's', 'h', 'h2', 't', 'er']) put(body, K.OPTION.tol[p], `tol${p}`);
    body[K.OPTION.dist] = field('dist').value;
    put(body, K.OPTION.samples, 'samples');
    put(body, K.OPTION.seed, 'seed');
    const limits = [];
    if (text('cmin') || text('cmax')) limits.push(`${K.FIGURE.coupling}=${text('cmin')}:${text('cmax')}`);
    if (text('zmin') || text('zmax')) limits.push(`${K.FIGURE.zo}=${text('zmin')}:${text('zmax')}`);
    if (limits.length) body[K.OPTION.limit] = limits;
    $('#status').textContent = `Sampling ${text('samples') || 'the default number of'} boards\u2026`;
    const out = await call('tolerance', body);
    if (out.status !== 200) {
      report(out);
      return;
    }
    const t = K.tolerance(out.data);
    const band = (name) => limits.find((l) => l.startsWith(`${name}=`));
    const ends = (name) => (band(name) || '=:').split('=')[1].split(':').map((v) => (v === '' ? null : Number(v)));
    Plot.histogram('chart-hist-coupling', {
      label: 'Coupling, dB', f: t.figures[K.FIGURE.coupling], limits: ends(K.FIGURE.coupling),
    });
    Plot.histogram('chart-hist-zo', { label: 'Zo, ohm', f: t.figures[K.FIGURE.zo], limits: ends(K.FIGURE.zo) });
    Plot.shares('chart-share', [
      { label: 'Coupling', f: t.figures[K.FIGURE.coupling] },
      { label: 'Zo', f: t.figures[K.FIGURE.zo] },
    ]);
    yieldTable(t);
    report(out, `${t.valid} of ${t.samples} samples inside the models' validity`);
  },

  async diffpair() {
    // What is found decides what is given: S needs W and Zdiff, W needs S
    // and Zdiff, both need Zdiff and Zcomm.
    const find = field('find').value;
    const body = design({
      w: find === 'none' || find === 's', s: find === 'none' || find === 'w', tlos: false,
    });
    put(body, K.OPTION.f, 'fd');
    if (find !== 'none') put(body, K.OPTION.zdiff, 'zdiff');
    if (find === 'w_s') put(body, K.OPTION.zcomm, 'zcomm');
    const out = await call('diffpair', body);
    const row = out.status === 200 ? K.rows(out.data)[0] : null;
    figures($('#dp-figures'), row ? Object.entries(row)
      .filter(([k]) => !K.VALIDITY.includes(k)).map(([k, v]) => [K.label(k), v]) : []);
    report(out);
  },

  async check() {
    const body = design({ tlos: false });
    put(body, K.OPTION.f, 'fc');
    const out = await call('check', body);
    const ok = out.status === 200;
    $('#check-verdict').textContent = ok ? out.data.summary[K.CHECK.verdict] : '';
    // Each figure: closed forms, field solver and their difference.
    const fix = (v, d) => (typeof v === 'number' ? v.toFixed(d) : '\u2013');
    figures($('#check-figures'), ok ? K.rows(out.data).map((r) => {
      const c = K.CHECK;
      return [K.label(r[c.quantity]),
        `${fix(r[c.closed], 3)} closed forms, ${fix(r[c.field], 3)} field (${fix(r[c.difference], 2)} %)`];
    }) : []);
    report(out);
  },
};

function yieldTable(t) {
  const box = $('#tol-yield');
  box.replaceChildren();
  const table = document.createElement('table');
  const head = table.createTHead().insertRow();
  for (const h of ['limit', 'passed', 'of', 'yield %', '95 % interval']) {
    const th = document.createElement('th');
    th.textContent = h;
    head.append(th);
  }
  const b = table.createTBody();
  for (const l of [...t.limits, ...(t.joint ? [t.joint] : [])]) {
    const tr = b.insertRow();
    const range = l.figure === 'all limits' ? '' : ` ${l.min ?? ''} to ${l.max ?? ''}`;
    const fix = (v) => (typeof v === 'number' ? v.toFixed(2) : '');
    for (const v of [`${l.figure}${range}`, l.passed, l.count, fix(l.yield), `${fix(l.low)} to ${fix(l.high)}`]) {
      tr.insertCell().textContent = String(v);
    }
  }
  box.append(table);
}

// ---------------------------------------------------------------- running

async function run() {
  if (inFlight) inFlight.abort();
  inFlight = new AbortController();
  const mine = inFlight;
  const started = performance.now();
  const results = $('#results');
  results.setAttribute('aria-busy', 'true');
  try {
    if (optional[active] === false) {
      $('#status').textContent = 'not available in this build';
      $('#messages').replaceChildren();
      renderTable([]);
    } else {
      await compute[active]();
    }
  } catch (e) {
    if (e.name === 'AbortError') return;
    $('#status').textContent = `no answer from the program: ${e.message}`;
  } finally {
    if (mine === inFlight) {
      results.removeAttribute('aria-busy');
      results.dataset.ms = String(Math.round(performance.now() - started));
      results.dataset.runs = String(++runs);
      results.dataset.tab = active;
    }
  }
}

function schedule() {
  clearTimeout(timer);
  timer = setTimeout(run, DEBOUNCE_MS);
}

function select(tab, focus = false) {
  active = tab;
  for (const b of $$('[role="tab"]')) {
    const on = b.dataset.tab === tab;
    b.setAttribute('aria-selected', String(on));
    b.tabIndex = on ? 0 : -1;
    if (on && focus) b.focus();
  }
  for (const p of $$('[role="tabpanel"]')) p.hidden = p.id !== `panel-${tab}`;
  writeAddress();
  run();
}

// Optional subcommands: a 404 says this build has none.
async function probe() {
  await Promise.all(Object.keys(optional).map(async (name) => {
    try {
      const res = await fetch(`/api/${name}`, {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}',
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
// frequency of the response, the targets of the differential pair.
function modes() {
  const given = field('lmode').value === 'length';
  field('len').disabled = !given;
  field('centre').disabled = given;
  if (optional.diffpair !== false) {
    field('zdiff').disabled = field('find').value === 'none';
    field('zcomm').disabled = field('find').value !== 'w_s';
  }
}

function onInput(el) {
  if (el.name === 'lmode' || el.name === 'find') modes();
  if (el.name === 'units') {
    convertLengths(units, el.value);
    units = el.value;
    showUnits();
  } else if (el.name === 'preset') {
    if (el.value !== '') field('er').value = el.value;
  } else if (el.name === 'er') {
    syncPreset();
  }
  drawSection($('#section'), sectionValues());
  writeAddress();
  schedule();
}

function sectionValues() {
  const v = {};
  for (const n of ['er', 'h', 'h2', 't', 'w', 's']) v[n] = Number(text(n));
  v.unit = unitText();
  return v;
}

function start() {
  readAddress();
  showUnits();
  modes();
  document.addEventListener('input', (e) => {
    if (e.target.matches('input[name], select[name]')) onInput(e.target);
  });
  for (const f of $$('form')) f.addEventListener('submit', (e) => e.preventDefault());
  $('#tabs').addEventListener('click', (e) => {
    const b = e.target.closest('[role="tab"]');
    if (b) select(b.dataset.tab);
  });
  $('#tabs').addEventListener('keydown', (e) => {
    const i = TABS.indexOf(active);
    const next = { ArrowRight: i + 1, ArrowLeft: i - 1, Home: 0, End: TABS.length - 1 }[e.key];
    if (next === undefined) return;
    e.preventDefault();
    select(TABS[(next + TABS.length) % TABS.length], true);
  });
  $('#table-box').addEventListener('toggle', () => renderTable(tableRows));
  $('#syn-use').addEventListener('click', () => {
    if (!lastSynthesis) return;
    field('w').value = String(K.get(lastSynthesis, 'w', units));
    field('s').value = String(K.get(lastSynthesis, 's', units));
    onInput(field('w'));
  });
  Plot.followTheme();
  drawSection($('#section'), sectionValues());
  probe().then(() => select(active));
}

start();
