// Charts (Chart.js, from the page's own server): one chart per canvas,
// created once and given new data at each run, in the colours of the theme.
/* global Chart */

const charts = new Map();

function theme() {
  const css = getComputedStyle(document.documentElement);
  const v = (name) => css.getPropertyValue(name).trim();
  return {
    fg: v('--fg'), grid: v('--grid'),
    series: [v('--c1'), v('--c2'), v('--c3'), v('--c4'), v('--c5'), v('--c6')],
    limit: v('--limit'),
  };
}

function axis(title, t, position) {
  return {
    type: 'linear', position, title: { display: Boolean(title), text: title, color: t.fg },
    ticks: { color: t.fg }, grid: { color: t.grid, drawOnChartArea: position !== 'right' },
  };
}

function chart(id, config) {
  const canvas = document.getElementById(id);
  let c = charts.get(id);
  if (!c) {
    c = new Chart(canvas, config);
    charts.set(id, c);
  } else {
    c.data = config.data;
    c.options = config.options;
    c.update('none');
  }
  canvas.dataset.points = String(config.data.datasets.reduce((n, d) => Math.max(n, d.data.length), 0));
  return c;
}

function options(t, scales, extra = {}) {
  return {
    animation: false, responsive: true, maintainAspectRatio: false, parsing: false,
    normalized: true, interaction: { mode: 'nearest', axis: 'x', intersect: false },
    scales,
    plugins: { legend: { labels: { color: t.fg, boxHeight: 2 } }, ...extra },
  };
}

// Lines against a common x: series [{label, points: [[x, y]...], right}].
export function lines(id, xTitle, series, units) {
  const t = theme();
  const datasets = series.map((s, k) => ({
    label: s.label,
    data: s.points.filter(([x, y]) => Number.isFinite(x) && Number.isFinite(y)).map(([x, y]) => ({ x, y })),
    borderColor: t.series[k % t.series.length], backgroundColor: t.series[k % t.series.length],
    borderWidth: 1.5, pointRadius: s.points.length > 60 ? 0 : 2, yAxisID: s.right ? 'y2' : 'y',
  }));
  const scales = { x: axis(xTitle, t, 'bottom'), y: axis(units.left, t, 'left') };
  if (series.some((s) => s.right)) scales.y2 = axis(units.right, t, 'right');
  chart(id, { type: 'line', data: { datasets }, options: options(t, scales) });
}

// The spread of figures as their cumulative share of the samples, from the
// minimum, the 1st, 5th, 50th, 95th and 99th percentiles and the maximum,
// with the limits as vertical lines: items [{label, f, limits: [min, max]}].
export function spread(id, items) {
  const t = theme();
  const datasets = [];
  const scales = { y: { ...axis('samples below, %', t, 'left'), min: 0, max: 100 } };
  items.forEach((item, k) => {
    const f = item.f;
    if (!f) return;
    const xid = k === 0 ? 'x' : 'x2';
    scales[xid] = axis(item.label, t, k === 0 ? 'bottom' : 'top');
    const steps = [[f.min, 0], [f.p1, 1], [f.p5, 5], [f.p50, 50], [f.p95, 95], [f.p99, 99], [f.max, 100]];
    datasets.push({
      label: item.label, xAxisID: xid, data: steps.filter(([x]) => Number.isFinite(x)).map(([x, y]) => ({ x, y })),
      borderColor: t.series[k], backgroundColor: t.series[k], borderWidth: 2, pointRadius: 3,
    });
    (item.limits || []).forEach((x, j) => {
      if (x === null || !Number.isFinite(x)) return;
      datasets.push({
        label: `${item.label} ${j === 0 ? 'min' : 'max'}`, xAxisID: xid, data: [{ x, y: 0 }, { x, y: 100 }],
        borderColor: t.series[k], borderDash: [6, 4], borderWidth: 1, pointRadius: 0,
      });
    });
  });
  chart(id, { type: 'line', data: { datasets }, options: options(t, scales) });
}

// Each tolerance's share of the spread of some figures (percent).
export function shares(id, items) {
  const t = theme();
  const params = ['w', 's', 'h', 'h2', 't', 'er'];
  const datasets = items.filter((i) => i.f).map((item, k) => ({
    label: item.label, data: params.map((p) => item.f.share[p] ?? 0), backgroundColor: t.series[k],
  }));
  const scales = {
    x: { type: 'category', labels: params.map((p) => p.toUpperCase()), ticks: { color: t.fg }, grid: { color: t.grid } },
    y: { ...axis('share of the spread, %', t, 'left'), min: 0, max: 100 },
  };
  const o = { ...options(t, scales), parsing: true, normalized: false };
  chart(id, { type: 'bar', data: { labels: params.map((p) => p.toUpperCase()), datasets }, options: o });
}

// Redraws every chart in the new colours when the theme changes.
export function followTheme() {
  window.matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    const t = theme();
    for (const c of charts.values()) {
      for (const s of Object.values(c.options.scales)) {
        if (s.ticks) s.ticks.color = t.fg;
        if (s.grid) s.grid.color = t.grid;
        if (s.title) s.title.color = t.fg;
      }
      c.options.plugins.legend.labels.color = t.fg;
      c.update('none');
    }
  });
}
