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
    limit: v('--limit'), flag: v('--flag'),
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
    // The legend in the order of the data, whatever order they are drawn in.
    plugins: {
      legend: { labels: { color: t.fg, boxHeight: 2, sort: (a, b) => a.datasetIndex - b.datasetIndex } },
      ...extra,
    },
  };
}

// Lines against a common x: series [{label, points: [[x, y, flags]...],
// right}]. The points that carry flags (codes of the validity ranges they
// are outside) are marked as well, as one more series of triangles named in
// the legend, each flag named in words (flagText) in the tooltip.
export function lines(id, xTitle, series, units, flagText = (f) => f) {
  const t = theme();
  const finite = ([x, y]) => Number.isFinite(x) && Number.isFinite(y);
  const datasets = series.map((s, k) => ({
    label: s.label,
    data: s.points.filter(finite).map(([x, y]) => ({ x, y })),
    borderColor: t.series[k % t.series.length], backgroundColor: t.series[k % t.series.length],
    borderWidth: 1.5, pointRadius: s.points.length > 60 ? 0 : 2, yAxisID: s.right ? 'y2' : 'y',
  }));
  const flagged = series.flatMap((s) => s.points
    .filter((p) => finite(p) && p[2] && p[2].length)
    .map(([x, y, flags]) => ({ x, y, flags, series: s.label, right: Boolean(s.right) })));
  if (flagged.length) {
    // One series per axis, so that each triangle sits on its own curve.
    for (const right of [false, true]) {
      const data = flagged.filter((p) => p.right === right);
      if (!data.length) continue;
      datasets.push({
        label: 'flagged: outside a validity range', data, flagged: true, showLine: false,
        pointStyle: 'triangle', pointRadius: 5, pointHoverRadius: 7, borderWidth: 1.5,
        borderColor: t.limit, backgroundColor: t.flag, yAxisID: right ? 'y2' : 'y', order: -1,
      });
    }
  }
  const scales = { x: axis(xTitle, t, 'bottom'), y: axis(units.left, t, 'left') };
  if (series.some((s) => s.right)) scales.y2 = axis(units.right, t, 'right');
  const o = options(t, scales, {
    tooltip: {
      callbacks: {
        label(item) {
          const p = item.raw;
          const value = `${p.series || item.dataset.label}: ${Number(p.y.toPrecision(6))}`;
          return p.flags ? `${value} (flagged: ${p.flags.map(flagText).join('; ')})` : value;
        },
      },
    },
  });
  // Lines as lines in the legend, the flagged points as their triangle; the
  // second axis's triangles need no entry of their own.
  o.plugins.legend.labels = {
    ...o.plugins.legend.labels,
    usePointStyle: true,
    pointStyleWidth: 24,
    filter: (item, data) => !(data.datasets[item.datasetIndex].flagged &&
      data.datasets.findIndex((d) => d.flagged) !== item.datasetIndex),
    generateLabels: (c) => Chart.defaults.plugins.legend.labels.generateLabels(c).map((item) => ({
      ...item, pointStyle: c.data.datasets[item.datasetIndex].flagged ? 'triangle' : 'line',
    })),
  };
  chart(id, { type: 'line', data: { datasets }, options: o });
}

// The histogram of one figure (counts in equal bins from its minimum to its
// maximum) with its limits as vertical lines: item {label, f, limits: [min, max]}.
export function histogram(id, item) {
  const t = theme();
  const f = item.f;
  const counts = (f && f.histogram) || [];
  const width = counts.length && f.max > f.min ? (f.max - f.min) / counts.length : 1;
  const bars = counts.map((n, k) => ({ x: f.min + (k + 0.5) * width, y: n }));
  const top = Math.max(1, ...counts);
  const datasets = [{
    type: 'bar', label: item.label, data: bars, backgroundColor: t.series[0],
    barPercentage: 1, categoryPercentage: 1, grouped: false, order: 1,
  }];
  (item.limits || []).forEach((x, j) => {
    if (x === null || !Number.isFinite(x)) return;
    datasets.push({
      type: 'line', label: `limit ${j === 0 ? 'min' : 'max'}`, data: [{ x, y: 0 }, { x, y: top }],
      borderColor: t.limit || t.series[1], borderDash: [6, 4], borderWidth: 1.5, pointRadius: 0,
      order: 0,  // drawn over the bars
    });
  });
  const scales = { x: axis(item.label, t, 'bottom'), y: { ...axis('samples', t, 'left'), min: 0 } };
  chart(id, { type: 'bar', data: { datasets }, options: options(t, scales) });
}

// Each tolerance's share of the spread of some figures (percent).
export function shares(id, items) {
  const t = theme();
  const given = items.filter((i) => i.f);
  const params = given.length ? Object.keys(given[0].f.share) : [];
  const names = params.map((p) => (p === 'etch' ? 'etch' : p.toUpperCase()));
  const datasets = given.map((item, k) => ({
    label: item.label, data: params.map((p) => item.f.share[p] ?? 0), backgroundColor: t.series[k],
  }));
  const scales = {
    x: { type: 'category', labels: names, ticks: { color: t.fg }, grid: { color: t.grid } },
    y: { ...axis('share of the spread, %', t, 'left'), min: 0, max: 100 },
  };
  const o = { ...options(t, scales), parsing: true, normalized: false };
  chart(id, { type: 'bar', data: { labels: names, datasets }, options: o });
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
