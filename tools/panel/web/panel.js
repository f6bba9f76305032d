// The KORVAX soft front panel: one tab per chassis, its crosspoint grid,
// routes, relay wear and event log, over the panel's JSON API. Plain
// JavaScript, no build step and nothing fetched from elsewhere.
//
// Hooks for tests and users' own automation (kept stable): every grid cell
// carries data-crosspoint="R!C" and data-state="open|closed"; a refusal is
// shown in the element with role="alert"; each route's "on" button carries
// data-route="NAME" (its "off" button data-route-off, its preview
// data-route-preview); the body carries data-live="true" while changes made
// elsewhere are reaching the page.
'use strict';

const TOKEN_KEY = 'korvax-panel-token';
// Chassis with more columns than this are shown one card at a time, so that
// the page stays quick with an RQ522's 2016 columns.
const ONE_PAGE_COLUMNS = 96;

const state = {
  token: sessionStorage.getItem(TOKEN_KEY) || '',
  chassis: [],      // GET /api/chassis
  current: null,    // name of the chassis shown
  detail: null,     // GET /api/chassis/{current}
  page: 0,          // card page of a large chassis
  cells: new Map(), // "R!C" -> <td> of the page shown
  shownKey: '',     // chassis and page the grid was drawn for
  busy: false,
  refreshTimer: 0,
  listening: false,
};

const $ = (id) => document.getElementById(id);
const el = (tag, props = {}, ...children) => {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (k === 'dataset') Object.assign(e.dataset, v);
    else if (k in e) e[k] = v;
    else e.setAttribute(k, v);
  }
  for (const c of children) e.append(c);
  return e;
};
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

class ApiError extends Error {
  constructor(status, body) {
    super(body && body.error && body.error.message ? body.error.message : `HTTP ${status}`);
    this.status = status;
    this.error = (body && body.error) || {};
  }
}

function headers(json) {
  const h = {};
  if (state.token) h.Authorization = `Bearer ${state.token}`;
  if (json) h['Content-Type'] = 'application/json';
  return h;
}

async function api(method, path, body) {
  let res;
  try {
    res = await fetch(path, {
      method, cache: 'no-store', headers: headers(body !== undefined),
      body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch (e) {
    throw new ApiError(0, { error: { message: 'the panel does not answer (stopped?)' } });
  }
  let data = null;
  try { data = await res.json(); } catch (e) { /* not JSON */ }
  if (res.status === 401) askToken();
  if (!res.ok) throw new ApiError(res.status, data);
  return data;
}

// What a failed request means, in one sentence for the alert.
function explain(e) {
  const reason = e.error.reason ? ` (${e.error.reason})` : '';
  switch (e.status) {
    case 409: return `Refused${reason}: ${e.message}`;
    case 502: return `The chassis did not take it: ${e.message}`;
    case 503: return `The switching record is busy (another program is switching): ${e.message}`;
    case 401: return 'This panel needs its token.';
    default: return e.message;
  }
}

function showAlert(text) { $('alert').textContent = text; }
function clearAlert() { $('alert').textContent = ''; }

function setLive(on) {
  document.body.dataset.live = on ? 'true' : 'false';
  $('live').textContent = on ? 'live' : 'not live: reconnecting…';
  $('live').className = `live ${on ? 'on' : 'off'}`;
}

function askToken() {
  $('token-form').hidden = false;
  $('token').focus();
}

// ---- chassis tabs ----------------------------------------------------

async function start() {
  let list;
  try {
    list = await api('GET', '/api/chassis');
  } catch (e) {
    if (e.status !== 401) showAlert(explain(e));
    return;
  }
  $('token-form').hidden = true;
  state.chassis = list.chassis;
  const tabs = $('tabs');
  tabs.replaceChildren(...list.chassis.map((c) => el('button', {
    type: 'button', role: 'tab', textContent: c.name, title: `${c.model} · ${c.resource}`,
    dataset: { chassis: c.name }, onclick: () => select(c.name),
  })));
  const wanted = decodeURIComponent(location.hash.slice(1));
  const first = list.chassis.find((c) => c.name === wanted) || list.chassis[0];
  if (first) await select(first.name);
  if (!state.listening) {
    state.listening = true;
    listen();
  }
}

async function select(name) {
  if (state.current !== name) {
    state.current = name;
    state.page = 0;
    state.shownKey = '';
    clearAlert();
    clearPreview();
    history.replaceState(null, '', `#${encodeURIComponent(name)}`);
  }
  for (const b of $('tabs').children) b.setAttribute('aria-selected', b.dataset.chassis === name ? 'true' : 'false');
  await refresh();
}

async function refresh() {
  const name = state.current;
  if (!name) return;
  try {
    const d = await api('GET', `/api/chassis/${encodeURIComponent(name)}`);
    if (name !== state.current) return;
    state.detail = d;
    render();
  } catch (e) {
    showAlert(explain(e));
  }
}

function scheduleRefresh() {
  clearTimeout(state.refreshTimer);
  state.refreshTimer = setTimeout(refresh, 100);
}

// ---- drawing ---------------------------------------------------------

const rowName = (d, r) => d.row_names[r] || `R${r}`;
const columnName = (d, c) => d.column_names[c] || `C${c}`;

function render() {
  const d = state.detail;
  $('chassis').hidden = false;
  renderAbout(d);
  renderPager(d);
  renderGrid(d);
  renderRoutes(d);
  renderPaths(d);
  renderWear(d);
  renderEvents(d);
}

function renderAbout(d) {
  const cards = d.cards.length === 1 ? '1 card' : `${d.cards.length} cards`;
  const fitted = `${cards} of ${d.geometry.positions} fitted${d.card_type ? ` (${d.card_type}, ${d.geometry.card_columns} columns each)` : ''}`;
  const items = [
    ['model', d.model], ['resource', d.resource], ['serial', d.serial || '—'], ['firmware', d.firmware || '—'],
    ['cards', fitted], ['matrix', `${d.geometry.rows} rows × ${d.geometry.columns} columns`],
    ['closed', String(d.closed.length)],
  ];
  $('about').replaceChildren(...items.map(([k, v]) => el('span', { dataset: { about: k } }, el('b', { textContent: k }), v)));
}

// The columns of the page shown: all of them for a small chassis, else one card.
function pageColumns(d) {
  const g = d.geometry;
  if (g.columns <= ONE_PAGE_COLUMNS || d.cards.length === 0) return Array.from({ length: g.columns }, (_, i) => i + 1);
  const card = d.cards[Math.min(state.page, d.cards.length - 1)];
  return Array.from({ length: card.last_column - card.first_column + 1 }, (_, i) => card.first_column + i);
}

function renderPager(d) {
  const paged = d.geometry.columns > ONE_PAGE_COLUMNS && d.cards.length > 1;
  $('pager').hidden = !paged;
  if (!paged) return;
  const closedPerCard = new Map();
  for (const x of d.closed) {
    const c = Number(x.split('!')[1]);
    const card = d.cards.find((k) => c >= k.first_column && c <= k.last_column);
    if (card) closedPerCard.set(card.position, (closedPerCard.get(card.position) || 0) + 1);
  }
  const select = $('page');
  const label = (k) => `card ${k.position} · C${k.first_column}–C${k.last_column}${closedPerCard.get(k.position) ? ` · ${closedPerCard.get(k.position)} closed` : ''}`;
  if (select.dataset.key === d.name && select.options.length === d.cards.length) {
    d.cards.forEach((k, i) => { select.options[i].textContent = label(k); });
  } else {
    select.dataset.key = d.name;
    select.replaceChildren(...d.cards.map((k, i) => el('option', { value: String(i), textContent: label(k) })));
  }
  select.value = String(state.page);
}

function renderGrid(d) {
  const columns = pageColumns(d);
  const key = `${d.name}/${state.page}`;
  if (state.shownKey !== key) {
    state.shownKey = key;
    state.cells = new Map();
    const head = el('tr', {}, el('th', { className: 'corner', textContent: 'row \\ column' }));
    for (const c of columns) {
      const name = columnName(d, c);
      const th = el('th', { scope: 'col', title: `column ${c}` }, name);
      if (name !== `C${c}`) th.append(' ', el('span', { className: 'num', textContent: String(c) }));
      head.append(th);
    }
    const body = el('tbody');
    for (let r = 1; r <= d.geometry.rows; r++) {
      const name = rowName(d, r);
      const th = el('th', { scope: 'row', title: `row ${r}` }, name);
      if (name !== `R${r}`) th.append(el('span', { className: 'num', textContent: String(r) }));
      const tr = el('tr', {}, th);
      for (const c of columns) {
        const x = `${r}!${c}`;
        const td = el('td', { dataset: { crosspoint: x, state: 'open' } });
        state.cells.set(x, td);
        tr.append(td);
      }
      body.append(tr);
    }
    $('grid').replaceChildren(el('thead', {}, head), body);
  }
  applyClosed(d.closed);
  applyHeat(d);
}

function applyClosed(closed) {
  const set = new Set(closed);
  for (const [x, td] of state.cells) td.dataset.state = set.has(x) ? 'closed' : 'open';
  const d = state.detail;
  if (d) for (const [x, td] of state.cells) td.title = cellTitle(d, x, td.dataset.state);
}

function wearOf(d) {
  const m = new Map();
  for (const w of d.wear) m.set(w.crosspoint, w.closures);
  return m;
}

function cellTitle(d, x, s) {
  const [r, c] = x.split('!');
  const closures = wearOf(d).get(x) || 0;
  return `${rowName(d, r)} × ${columnName(d, c)} (${x}): ${s}, ${closures} closure${closures === 1 ? '' : 's'}`;
}

// Relay wear as a heat map: closures relative to the most-worn relay.
function applyHeat(d) {
  const on = $('heat').checked;
  const wear = wearOf(d);
  const max = Math.max(0, ...wear.values());
  $('heat-legend').hidden = !on;
  $('heat-max').textContent = `0 – ${max} closures`;
  for (const [x, td] of state.cells) {
    const n = wear.get(x) || 0;
    if (!on || n === 0) { td.style.backgroundColor = ''; continue; }
    const t = max > 0 ? n / max : 0;
    td.style.backgroundColor = `hsl(${60 - 60 * t} 95% ${85 - 30 * t}%)`;
  }
}

function renderRoutes(d) {
  // The buttons stay the same elements while the routes do (only whether
  // each is on changes), so that a script holding one can click it again.
  const key = `${d.name}:${d.routes.map((r) => r.name).join(',')}`;
  if ($('routes').dataset.key === key) {
    for (const r of d.routes) {
      const b = $('routes').querySelector(`[data-route="${CSS.escape(r.name)}"]`);
      if (b) b.setAttribute('aria-pressed', r.on ? 'true' : 'false');
    }
    return;
  }
  $('routes').dataset.key = key;
  const rows = d.routes.map((r) => {
    const what = r.kind === 'group' ? `group: ${r.routes.join(', ')}` : r.legs.join('  ');
    const on = el('button', {
      type: 'button', textContent: 'on', title: `switch ${r.name} on`, dataset: { route: r.name },
      onclick: () => routeSwitch(r.name, true),
    });
    on.setAttribute('aria-pressed', r.on ? 'true' : 'false');
    return el('tr', {},
      el('td', {}, el('b', { textContent: r.name })),
      el('td', { className: 'legs', textContent: what }),
      el('td', {}, on, ' ',
        el('button', { type: 'button', textContent: 'off', dataset: { routeOff: r.name }, onclick: () => routeSwitch(r.name, false) }), ' ',
        el('button', { type: 'button', textContent: 'preview', dataset: { routePreview: r.name }, onclick: () => routePreview(r.name) })));
  });
  if (rows.length === 0) rows.push(el('tr', {}, el('td', { className: 'legs', textContent: 'The topology names no route on this chassis.' })));
  $('routes').replaceChildren(...rows);
}

function renderPaths(d) {
  const items = d.paths.map((p) => el('li', { textContent: `${p.a} — ${p.b}: ${p.crosspoints.join(' ')}${p.route ? `  (route ${p.route})` : ''}` }));
  if (items.length === 0) items.push(el('li', { className: 'legs', textContent: 'no recorded paths' }));
  $('paths').replaceChildren(...items);
}

function renderWear(d) {
  const items = d.wear.slice(0, 8).map((w) => el('li', { textContent: `${w.crosspoint}  ${w.row} × ${w.column}: ${w.closures}` }));
  if (items.length === 0) items.push(el('li', { className: 'legs', textContent: 'no closures recorded' }));
  $('wear').replaceChildren(...items);
}

function renderEvents(d) {
  const rows = d.events.slice().reverse().map((e) => el('tr', {},
    el('td', { textContent: e.time.replace('T', ' ').replace('Z', '') }),
    el('td', { textContent: `${e.user} · ${e.program}[${e.process}]` }),
    el('td', { textContent: e.what }), el('td', { textContent: e.opened }),
    el('td', { textContent: e.closed }), el('td', { textContent: e.outcome })));
  $('events').tBodies[0].replaceChildren(...rows);
}

// ---- switching -------------------------------------------------------

async function act(run) {
  if (state.busy) return;
  state.busy = true;
  try {
    await run();
    clearAlert();
  } catch (e) {
    showAlert(explain(e));
  } finally {
    state.busy = false;
    await refresh();
  }
}

function toggle(td) {
  const x = td.dataset.crosspoint;
  const closing = td.dataset.state !== 'closed';
  clearPreview();
  td.classList.add('busy');
  return act(() => api('POST', `/api/chassis/${encodeURIComponent(state.current)}/crosspoints`,
    closing ? { close: [x] } : { open: [x] })).finally(() => td.classList.remove('busy'));
}

function routeSwitch(name, on) {
  clearPreview();
  const body = { on };
  if (on && $('alone').checked) body.only = true;
  return act(() => api('POST', `/api/routes/${encodeURIComponent(name)}`, body));
}

function clearPreview() {
  $('preview').replaceChildren();
  for (const td of state.cells.values()) td.classList.remove('will-open', 'will-close');
}

// A dry run: which crosspoints open, then which close, and the rules' answer.
async function routePreview(name) {
  clearPreview();
  const body = { on: true, dry_run: true };
  if ($('alone').checked) body.only = true;
  let plan;
  try {
    plan = await api('POST', `/api/routes/${encodeURIComponent(name)}`, body);
  } catch (e) {
    showAlert(explain(e));
    return;
  }
  const lines = plan.transactions.map((t) => {
    if (t.answer !== 'possible') return `${t.chassis}: would be refused (${t.answer}): ${t.message}`;
    if (t.opening.length === 0 && t.closing.length === 0) return `${t.chassis}: nothing to switch`;
    const parts = [];
    if (t.opening.length) parts.push(`first opens ${t.opening.join(' ')}`);
    if (t.closing.length) parts.push(`${t.opening.length ? 'then ' : ''}closes ${t.closing.join(' ')}`);
    if (t.chassis === state.current) {
      for (const x of t.opening) state.cells.get(x)?.classList.add('will-open');
      for (const x of t.closing) state.cells.get(x)?.classList.add('will-close');
    }
    return `${t.chassis}: ${parts.join(', ')}`;
  });
  $('preview').replaceChildren(el('b', { textContent: `${name}${body.only ? ' alone' : ''} would switch:` }),
    ...lines.map((l) => el('div', { textContent: l })),
    el('button', { type: 'button', textContent: 'close preview', onclick: clearPreview }));
}

// ---- changes made anywhere -------------------------------------------

// Server-sent events read with fetch, so that the token can go in a header.
async function listen() {
  for (let attempt = 0; ; attempt++) {
    try {
      const res = await fetch('/api/events', { headers: headers(false), cache: 'no-store' });
      if (res.status === 401) { askToken(); setLive(false); return; }
      if (!res.ok || !res.body) throw new Error(`HTTP ${res.status}`);
      const reader = res.body.getReader();
      const decoder = new TextDecoder();
      let buffer = '';
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        buffer += decoder.decode(value, { stream: true });
        let end;
        while ((end = buffer.indexOf('\n\n')) >= 0) {
          handleEvent(buffer.slice(0, end));
          buffer = buffer.slice(end + 2);
        }
      }
    } catch (e) { /* reconnect below */ }
    setLive(false);
    await sleep(1000);
  }
}

function handleEvent(block) {
  let kind = 'message';
  let data = '';
  for (const line of block.split('\n')) {
    if (line.startsWith('event:')) kind = line.slice(6).trim();
    else if (line.startsWith('data:')) data += line.slice(5).trim();
  }
  if (kind === 'hello') {
    setLive(true);
    scheduleRefresh();  // whatever changed while not listening
  } else if (kind === 'change') {
    const change = JSON.parse(data);
    if (change.chassis === state.current && state.detail) {
      applyClosed(change.closed);
      scheduleRefresh();
    }
  }
}

// ---- wiring ----------------------------------------------------------

document.addEventListener('DOMContentLoaded', () => {
  setLive(false);
  $('grid').addEventListener('click', (ev) => {
    const td = ev.target.closest('td[data-crosspoint]');
    if (td) toggle(td);
  });
  $('heat').addEventListener('change', () => state.detail && applyHeat(state.detail));
  $('page').addEventListener('change', () => { state.page = Number($('page').value); clearPreview(); render(); });
  $('page-prev').addEventListener('click', () => {
    if (state.page > 0) { state.page--; clearPreview(); render(); }
  });
  $('page-next').addEventListener('click', () => {
    if (state.detail && state.page < state.detail.cards.length - 1) { state.page++; clearPreview(); render(); }
  });
  $('open-all').addEventListener('click', () => {
    $('open-all-name').textContent = state.current;
    $('open-all-confirm').hidden = false;
    $('open-all').hidden = true;
  });
  const closeConfirm = () => { $('open-all-confirm').hidden = true; $('open-all').hidden = false; };
  $('open-all-no').addEventListener('click', closeConfirm);
  $('open-all-yes').addEventListener('click', () => {
    closeConfirm();
    clearPreview();
    act(() => api('POST', `/api/chassis/${encodeURIComponent(state.current)}/disconnect`, { all: true }));
  });
  // A link or bookmark to #NAME shows that chassis.
  window.addEventListener('hashchange', () => {
    const name = decodeURIComponent(location.hash.slice(1));
    if (state.chassis.some((c) => c.name === name)) select(name);
  });
  $('token-form').addEventListener('submit', (ev) => {
    ev.preventDefault();
    state.token = $('token').value.trim();
    sessionStorage.setItem(TOKEN_KEY, state.token);
    start();
  });
  start();
});
