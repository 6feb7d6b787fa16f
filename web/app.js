// SPDX-License-Identifier: Apache-2.0
// The control page: reads matrixd's HTTP API, follows its event stream and
// sends every change through the API. It keeps no state of its own beyond
// what the service last told it, so every failure ends by asking again.
'use strict';

const API = '/api/v1';
const TOKEN_KEY = 'matrixd.token';
const LETTERS = ['A', 'B', 'C', 'D'];
// The rows of the EDID mode list, sent as {"mode": row}.
const EDID_MODES = [
  '1080i,Stereo Audio 2.0', '1080i,Dolby/DTS 5.1', '1080i,HD Audio 7.1',
  '1080p,Stereo Audio 2.0', '1080p,Dolby/DTS 5.1', '1080p,HD Audio 7.1',
  '3D,Stereo Audio 2.0', '3D,Dolby/DTS 5.1', '3D,HD Audio 7.1',
  '4K2K,Stereo Audio 2.0', '4K2K,Dolby/DTS 5.1', '4K2K,HD Audio 7.1',
  'DVI 1024X768', 'DVI 1920X1080', 'DVI 1920X1200', 'Default EDID',
];
// A healthy stream carries a keep-alive comment every 15 s; silence for much
// longer means a dead connection that the socket has not noticed yet.
const STREAM_SILENCE_MS = 40000;
const RECONNECT_DELAYS_MS = [500, 1000, 2000, 5000];
const DAYS = ['mon', 'tue', 'wed', 'thu', 'fri', 'sat', 'sun'];
const DAY_LABELS = ['Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat', 'Sun'];

const $ = (id) => document.getElementById(id);

const page = {
  role: null,         // the token's role, from /api/v1/access
  matrices: [],       // [{id, name, link}]
  current: null,      // id of the matrix shown
  detail: null,       // GET /matrices/{id} of the shown matrix
  scenes: [],
  schedules: [],
  preview: false,     // this browser's taps stage routes instead of switching
  routeSeq: [0, 0, 0, 0, 0],  // newest route request per output; older answers are stale
  pending: new Map(), // output -> input in flight
  streamAbort: null,
  reconnectAttempt: 0,
  tokenWaiters: [],
};

// ---- HTTP ----------------------------------------------------------------

class ApiError extends Error {
  constructor(status, text) {
    super(text);
    this.status = status;
  }
}

// Private browsing may refuse storage; the token then lasts as long as the page.
let tokenInMemory = '';

function token() {
  try {
    return localStorage.getItem(TOKEN_KEY) || tokenInMemory;
  } catch (e) {
    return tokenInMemory;
  }
}

function authHeaders(extra) {
  const headers = Object.assign({}, extra || {});
  const t = token();
  if (t) headers.Authorization = 'Bearer ' + t;
  return headers;
}

// Sends one request; a 401 asks for a token and repeats the request with it.
async function api(method, path, body, contentType) {
  for (;;) {
    const sent = token();
    const init = { method, headers: authHeaders(), cache: 'no-store' };
    if (body !== undefined) {
      if (contentType) {
        init.headers['Content-Type'] = contentType;
        init.body = body;
      } else {
        init.headers['Content-Type'] = 'application/json';
        init.body = JSON.stringify(body);
      }
    }
    let response;
    try {
      response = await fetch(API + path, init);
    } catch (e) {
      throw new ApiError(0, 'The service is not reachable.');
    }
    if (response.status === 401) {
      // A token given while this request travelled gets its own try first.
      if (token() === sent) await askToken(sent !== '');
      continue;
    }
    const text = await response.text();
    let data = null;
    if (text) {
      try {
        data = JSON.parse(text);
      } catch (e) {
        data = null;
      }
    }
    if (!response.ok) {
      // 403 is the token's role; the page says so in its own words.
      const message = response.status === 403 ? 'Not allowed for this token'
        : data && typeof data.error === 'string' ? data.error : 'Request failed (' + response.status + ')';
      throw new ApiError(response.status, message);
    }
    return data;
  }
}

const enc = encodeURIComponent;
const matrixPath = (id) => '/matrices/' + enc(id);

// ---- Token ---------------------------------------------------------------

// Every request that met a 401 waits here until the user has given a token.
function askToken(wrong) {
  return new Promise((resolve) => {
    page.tokenWaiters.push(resolve);
    const dialog = $('token-dialog');
    const message = $('token-message');
    message.textContent = wrong ? 'Wrong token. Try again.' : 'This service needs an access token.';
    message.classList.toggle('error-text', wrong);
    if (!dialog.open) {
      $('token-input').value = '';
      dialog.showModal();
    }
  });
}

function setupToken() {
  const dialog = $('token-dialog');
  $('token-form').addEventListener('submit', () => {
    const value = $('token-input').value.trim();
    tokenInMemory = value;
    try {
      localStorage.setItem(TOKEN_KEY, value);
    } catch (e) {
      // Kept in memory only.
    }
    const waiters = page.tokenWaiters.splice(0);
    waiters.forEach((resolve) => resolve());
    restartStream();
  });
  // Without a token the page can do nothing, so the prompt cannot be dismissed.
  dialog.addEventListener('cancel', (event) => event.preventDefault());
}

// ---- Matrix list and picker ---------------------------------------------

// What each role may do, as the service decides it: a viewer only looks.
const ROLE_RANK = { viewer: 0, operator: 1, admin: 2 };
const NEEDS = { route: 'operator', recall: 'operator', beep: 'operator', take: 'operator', admin: 'admin' };

function can(what) {
  return (ROLE_RANK[page.role] ?? 0) >= ROLE_RANK[NEEDS[what]];
}

async function loadAccess() {
  const access = await api('GET', '/access');
  page.role = access && ROLE_RANK[access.role] !== undefined ? access.role : 'viewer';
  document.body.dataset.role = page.role;
}

// Controls the token may not use are disabled, not hidden: the state still shows.
function applyRole() {
  for (const button of document.querySelectorAll('#grid button.route')) button.disabled = !can('route');
  for (const button of document.querySelectorAll('.scene-recall')) button.disabled = !can('recall');
  for (const button of document.querySelectorAll('.scene-delete')) button.disabled = !can('admin');
  for (const node of document.querySelectorAll('#scene-form input, #scene-form button, #edid-list select, ' +
    '#edid-list button, #edid-list input, #factory-reset')) node.disabled = !can('admin');
  for (const label of document.querySelectorAll('#edid-list label.button')) label.classList.toggle('disabled', !can('admin'));
  $('beep').disabled = !can('beep');
  $('preview').disabled = !can('take');
  for (const node of document.querySelectorAll('#schedule-form input, #schedule-form select, #schedule-form button, ' +
    '.schedule-delete')) node.disabled = !can('admin');
  renderPreview();
  $('read-only').hidden = can('route');
}

async function loadMatrices() {
  await loadAccess();
  const list = await api('GET', '/matrices');
  page.matrices = Array.isArray(list) ? list : [];
  renderPicker();
  const wanted = decodeURIComponent(location.hash.slice(1));
  const ids = page.matrices.map((m) => m.id);
  const id = ids.includes(wanted) ? wanted : ids.includes(page.current) ? page.current : ids[0];
  if (id === undefined) {
    $('loading').textContent = 'No matrix is configured.';
    $('loading').hidden = false;
    $('main').hidden = true;
    return;
  }
  await showMatrix(id);
}

function renderPicker() {
  const select = $('matrix-select');
  select.replaceChildren(...page.matrices.map((m) => {
    const option = document.createElement('option');
    option.value = m.id;
    option.textContent = m.name + (m.link === 'down' ? ' (link down)' : '');
    return option;
  }));
  if (page.current) select.value = page.current;
  const several = page.matrices.length > 1;
  $('picker').hidden = !several;
  // The picker already shows the matrix's name; on a phone the line is worth more.
  $('title').classList.toggle('visually-hidden', several);
}

async function showMatrix(id) {
  if (page.current !== id) {
    page.pending.clear();
    page.routeSeq = page.routeSeq.map((n) => n + 1);
    page.detail = null;
  }
  page.current = id;
  $('matrix-select').value = id;
  if (page.matrices.length > 1) history.replaceState(null, '', '#' + enc(id));
  await Promise.all([refreshDetail(), refreshScenes(), refreshSchedules()]);
}

async function refreshDetail() {
  const id = page.current;
  if (!id) return;
  const mark = eventSeq;
  try {
    const detail = await api('GET', matrixPath(id));
    if (id !== page.current) return;
    for (const recent of recentEvents) {
      if (recent.seq > mark && recent.event.matrix === id) applyState(detail, recent.event);
    }
    page.detail = detail;
    const summary = page.matrices.find((m) => m.id === id);
    if (summary && detail.link) summary.link = detail.link;
    renderAll();
  } catch (e) {
    if (id === page.current) showLoadError(e);
  }
}

// Reads a list of the matrix on show again and hands it to `show`, unless
// the user has moved to another matrix meanwhile.
async function refreshList(collection, statusId, show) {
  const id = page.current;
  if (!id) return;
  try {
    const data = await api('GET', matrixPath(id) + '/' + collection);
    if (id === page.current) show(data);
  } catch (e) {
    if (id === page.current) say(statusId, e.message, true);
  }
}

async function refreshScenes() {
  await refreshList('scenes', 'scene-status', (data) => {
    page.scenes = normaliseScenes(data);
    renderScenes();
  });
}

// The list is [{"name", "routing": {"A": 2, ...}}, ...].
function normaliseScenes(data) {
  if (!Array.isArray(data)) return [];
  return data.filter((scene) => scene && typeof scene.name === 'string')
    .map((scene) => ({ name: scene.name, routing: scene.routing && typeof scene.routing === 'object' ? scene.routing : {} }));
}

// "A 2 · B 2 · C 4": what a recall sends, by output letter and input number.
function sceneSummary(routing) {
  return LETTERS.filter((letter) => routing[letter]).map((letter) => letter + '\u00a0' + routing[letter])
    .join(' \u00b7 ');
}

function showLoadError(error) {
  if (!page.detail) {
    $('loading').textContent = error.message;
    $('loading').hidden = false;
  }
}

// ---- Rendering -----------------------------------------------------------

function el(tag, attrs, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else node.setAttribute(key, value === true ? '' : String(value));
  }
  for (const child of children) {
    if (child !== null && child !== undefined) node.append(child);
  }
  return node;
}

function inputName(n) {
  const input = page.detail && (page.detail.inputs || []).find((i) => i.number === n);
  return input && input.name ? input.name : 'Input ' + n;
}

// "B · Left TV", but "Output B" alone while the port has no name of its own.
function keyedLabel(key, name, unnamed) {
  return !name || name === unnamed ? unnamed : key + ' \u00b7 ' + name;
}

function outputInfo(n) {
  const output = page.detail && (page.detail.outputs || []).find((o) => o.number === n);
  return output || { number: n, letter: LETTERS[n - 1], name: 'Output ' + LETTERS[n - 1] };
}

function renderAll() {
  const d = page.detail;
  if (!d) return;
  $('loading').hidden = true;
  $('main').hidden = false;
  $('title').textContent = d.name || d.id;
  document.title = (d.name || d.id) + ' \u2013 HDMI matrix';
  const device = [d.model, d.version ? 'version ' + d.version : ''].filter(Boolean).join(', ');
  $('device').textContent = device;
  renderPicker();
  renderLink();
  renderGrid();
  renderCables();
  renderEdid();
  renderBeep();
  renderPreview();
  renderScenes();
  applyRole();
}

function renderLink() {
  const d = page.detail;
  const down = d && d.link === 'down';
  const notice = $('link-down');
  notice.textContent = down ? 'The link to ' + (d.name || d.id) + ' is down. Reconnecting\u2026' : '';
  notice.hidden = !down;
  $('main').classList.toggle('link-down', !!down);
}

// Builds the four rows of `container` again for another matrix (or when they
// are missing); when only the state changed, the rows and what they show
// (error texts, a choice being made) stay.
function ensureRows(container, buildRow) {
  if (container.dataset.matrix !== page.current || container.children.length !== 4) {
    container.dataset.matrix = page.current;
    container.replaceChildren();
    for (let n = 1; n <= 4; n++) container.append(buildRow(n));
  }
}

function renderGrid() {
  ensureRows($('grid'), buildOutputRow);
  for (let out = 1; out <= 4; out++) updateOutputRow(out);
}

function buildOutputRow(out) {
  const row = el('div', { class: 'output', role: 'group', 'aria-labelledby': 'out-' + out + '-name',
    id: 'out-' + out });
  const head = el('div', { class: 'output-head' },
    el('span', { class: 'letter', id: 'out-' + out + '-letter', 'aria-hidden': 'true' }),
    el('span', { class: 'output-name', id: 'out-' + out + '-name' }),
    el('span', { class: 'cable-badge', id: 'out-' + out + '-cable' }));
  const buttons = el('div', { class: 'inputs' });
  for (let input = 1; input <= 4; input++) {
    const button = el('button', { type: 'button', class: 'route', 'data-matrix': page.current,
      'data-output': out, 'data-input': input, 'aria-pressed': 'false' },
    el('span', { class: 'route-number', 'aria-hidden': 'true' }),
    el('span', { class: 'route-name' }));
    button.addEventListener('click', () => (page.preview ? stage(out, input) : route(out, input)));
    buttons.append(button);
  }
  const status = el('p', { class: 'route-status', id: 'out-' + out + '-status', role: 'status' });
  row.append(head, buttons, status);
  return row;
}

function updateOutputRow(out) {
  const info = outputInfo(out);
  const letter = info.letter || LETTERS[out - 1];
  $('out-' + out + '-letter').textContent = letter;
  $('out-' + out + '-name').textContent = keyedLabel(letter, info.name, 'Output ' + letter);
  const cable = $('out-' + out + '-cable');
  // A router controller may hold the output; a tap then says "Output is locked".
  cable.textContent = [info.locked === true ? 'locked' : '', info.cable === false ? 'no display' : '']
    .filter(Boolean).join(' \u00b7 ');
  const routed = typeof info.input === 'number' ? info.input : null;
  const pending = page.pending.get(out);
  const staged = stagedInput(out);
  for (const button of document.querySelectorAll('#out-' + out + ' button.route')) {
    const input = Number(button.dataset.input);
    const name = inputName(input);
    button.dataset.matrix = page.current;
    button.querySelector('.route-number').textContent = String(input);
    button.querySelector('.route-name').textContent = name;
    const inPort = page.detail && (page.detail.inputs || []).find((i) => i.number === input);
    button.classList.toggle('no-source', !!inPort && inPort.cable === false);
    button.setAttribute('aria-pressed', routed === input ? 'true' : 'false');
    const busy = pending === input;
    button.classList.toggle('pending', busy);
    if (busy) button.setAttribute('aria-busy', 'true');
    else button.removeAttribute('aria-busy');
    // Staged for the next take: shown apart from what the output carries now.
    const next = staged === input && routed !== input;
    button.classList.toggle('staged', next);
    button.setAttribute('aria-label', input + ' ' + name + ' to ' + (info.name || 'output ' + letter) +
      (inPort && inPort.cable === false ? ' (no source cable)' : '') + (busy ? ' (switching)' : '') +
      (next ? ' (staged)' : ''));
  }
}

function setOutputStatus(out, text, isError) {
  const status = $('out-' + out + '-status');
  if (!status) return;
  status.textContent = text;
  status.classList.toggle('error-text', !!isError);
}

function renderCables() {
  const d = page.detail;
  const item = (label, cable) => el('li', { class: cable ? 'on' : 'off' },
    el('span', { class: 'dot', 'aria-hidden': 'true' }),
    el('span', { text: label }),
    el('span', { class: 'cable-state', text: cable === undefined || cable === null ? 'unknown'
      : cable ? 'connected' : 'no cable' }));
  $('cable-inputs').replaceChildren(...(d.inputs || []).map((i) =>
    item(keyedLabel(String(i.number), i.name, 'Input ' + i.number), i.cable)));
  $('cable-outputs').replaceChildren(...(d.outputs || []).map((o) => {
    const letter = o.letter || LETTERS[o.number - 1];
    return item(keyedLabel(letter, o.name, 'Output ' + letter), o.cable);
  }));
}

function edidText(input) {
  const row = page.detail && (page.detail.edid || []).find((e) => e.input === input);
  if (!row) return 'unknown';
  return row.text || (row.code === undefined || row.code === null ? 'unknown' : 'code ' + row.code);
}

function renderEdid() {
  ensureRows($('edid-list'), buildEdidRow);
  for (let input = 1; input <= 4; input++) {
    $('edid-' + input + '-title').textContent = keyedLabel('Input ' + input, inputName(input), 'Input ' + input);
    $('edid-' + input + '-now').textContent = edidText(input);
    const select = $('edid-' + input + '-select');
    // Offer what the input has now, unless the user is choosing something else.
    const choice = edidChoice(input);
    if (choice && document.activeElement !== select && !select.dataset.touched) select.value = choice;
    for (let out = 1; out <= 4; out++) {
      const o = outputInfo(out);
      select.querySelector('option[value="copy:' + out + '"]').textContent =
        'Copy from ' + keyedLabel('output ' + o.letter, o.name, 'Output ' + o.letter);
    }
  }
}

// Status codes 0..14 are the built-in modes in list order, 15..18 copies
// of outputs A..D; anything else is a file.
function edidChoice(input) {
  const row = page.detail && (page.detail.edid || []).find((e) => e.input === input);
  if (!row || typeof row.code !== 'number') return null;
  if (row.code >= 0 && row.code <= 14) return 'mode:' + row.code;
  if (row.code >= 15 && row.code <= 18) return 'copy:' + (row.code - 14);
  return null;
}

function buildEdidRow(input) {
  const id = 'edid-' + input;
  const select = el('select', { id: id + '-select', 'aria-describedby': id + '-now' });
  const modes = el('optgroup', { label: 'Built-in modes' });
  EDID_MODES.forEach((text, row) => modes.append(el('option', { value: 'mode:' + row, text })));
  const copies = el('optgroup', { label: 'Copy a display\u2019s EDID' });
  for (let out = 1; out <= 4; out++) copies.append(el('option', { value: 'copy:' + out }));
  select.append(modes, copies);
  select.addEventListener('change', () => { select.dataset.touched = '1'; });
  const apply = el('button', { type: 'button', class: 'primary', id: id + '-apply', text: 'Set' });
  apply.setAttribute('aria-label', 'Set the EDID of input ' + input);
  apply.addEventListener('click', () => setEdid(input, select.value));
  const file = el('input', { type: 'file', id: id + '-file', accept: '.bin,application/octet-stream',
    class: 'visually-hidden', 'aria-label': 'Upload .bin EDID file for input ' + input });
  file.addEventListener('change', () => {
    if (file.files && file.files[0]) uploadEdid(input, file.files[0]);
    file.value = '';
  });
  const upload = el('label', { for: id + '-file', class: 'button', text: 'Upload .bin', 'aria-hidden': 'true' });
  return el('div', { class: 'edid-row', role: 'group', 'aria-labelledby': id + '-title' },
    el('h3', { id: id + '-title' }),
    el('p', { class: 'edid-now' }, 'Now: ', el('span', { id: id + '-now' })),
    el('label', { for: id + '-select', class: 'visually-hidden', text: 'EDID for input ' + input }),
    el('div', { class: 'inline wrap' }, select, apply, file, upload),
    el('p', { class: 'status', id: id + '-status', role: 'status' }));
}

function renderBeep() {
  const on = page.detail && page.detail.beep === true;
  const known = page.detail && typeof page.detail.beep === 'boolean';
  const button = $('beep');
  button.setAttribute('aria-checked', on ? 'true' : 'false');
  button.querySelector('.switch-text').textContent = known ? (on ? 'On' : 'Off') : 'Unknown';
}

function renderScenes() {
  const list = $('scene-list');
  const live = page.detail ? page.detail.active_scene : null;
  list.replaceChildren(...page.scenes.map(({ name, routing }) => {
    const summary = sceneSummary(routing);
    const isLive = name === live;
    const recall = el('button', { type: 'button', class: 'primary scene-recall' + (isLive ? ' live' : ''),
      'data-scene': name, 'aria-current': isLive ? 'true' : null },
    el('span', { class: 'scene-name', text: name }),
    summary ? el('span', { class: 'scene-routing', text: summary }) : null,
    isLive ? el('span', { class: 'live-badge', text: 'Live' }) : null);
    recall.setAttribute('aria-label', 'Recall scene ' + name + (summary ? ': ' + summary : '') +
      (isLive ? ' (live now)' : ''));
    recall.addEventListener('click', () => recallScene(name));
    const remove = el('button', { type: 'button', class: 'scene-delete', 'data-scene': name, text: 'Delete' });
    remove.setAttribute('aria-label', 'Delete scene ' + name);
    remove.addEventListener('click', () => deleteScene(name));
    return el('li', {}, recall, remove);
  }));
  $('scene-empty').hidden = page.scenes.length > 0;
  renderScheduleScenes();
  applyRole();
}

// ---- Preview and take ------------------------------------------------------

// The input staged for output `out` (shared by every browser), or null.
function stagedInput(out) {
  const staged = page.detail && page.detail.pending;
  const input = staged ? staged[LETTERS[out - 1]] : undefined;
  return typeof input === 'number' ? input : null;
}

function stagedCount() {
  const staged = (page.detail && page.detail.pending) || {};
  return Object.keys(staged).length;
}

function renderPreview() {
  const button = $('preview');
  button.setAttribute('aria-checked', page.preview ? 'true' : 'false');
  button.querySelector('.switch-text').textContent = page.preview ? 'On' : 'Off';
  const count = stagedCount();
  // Staged routes show in every browser, so Take and Clear do too.
  $('preview-actions').hidden = !page.preview && count === 0;
  $('take').disabled = count === 0 || !can('take');
  $('clear-pending').disabled = count === 0 || !can('take');
  $('take').textContent = count > 0 ? 'Take ' + count : 'Take';
  $('take').setAttribute('aria-label', 'Take: switch the ' + count + ' staged route' + (count === 1 ? '' : 's'));
  $('main').classList.toggle('previewing', page.preview);
}

function renderStaged() {
  for (let out = 1; out <= 4; out++) {
    if ($('out-' + out)) updateOutputRow(out);
  }
  renderPreview();
}

function togglePreview() {
  page.preview = !page.preview;
  renderPreview();
}

async function stage(out, input) {
  const id = page.current;
  try {
    const staged = await api('PUT', matrixPath(id) + '/pending', { [LETTERS[out - 1]]: input });
    if (id !== page.current || !page.detail) return;
    page.detail.pending = staged || {};
    setOutputStatus(out, '', false);
    renderStaged();
  } catch (e) {
    if (id === page.current) setOutputStatus(out, e.message, true);
  }
}

async function take() {
  say('preview-status', 'Switching\u2026');
  await ask('preview-status', 'POST', '/take', 'Taken.');
  await refreshDetail();
}

async function clearPending() {
  await ask('preview-status', 'DELETE', '/pending', '');
  await refreshDetail();
}

// ---- Schedules -----------------------------------------------------------

async function refreshSchedules() {
  await refreshList('schedules', 'schedule-status', (data) => {
    page.schedules = Array.isArray(data) ? data.filter((s) => s && typeof s.name === 'string') : [];
    renderSchedules();
  });
}

// "Mon–Fri", "Sat Sun", "every day".
function daysText(days) {
  const set = DAYS.map((d) => (days || []).includes(d));
  if (set.every(Boolean)) return 'every day';
  if (set.slice(0, 5).every(Boolean) && !set[5] && !set[6]) return 'Mon\u2013Fri';
  return DAY_LABELS.filter((_, i) => set[i]).join(' ');
}

// The next run in matrixd's own local time: "2026-12-08 07:30".
function nextRunText(iso) {
  return typeof iso === 'string' && iso.length >= 16 ? iso.slice(0, 10) + ' ' + iso.slice(11, 16) : 'not planned';
}

function renderSchedules() {
  $('schedule-list').replaceChildren(...page.schedules.map((s) => {
    const remove = el('button', { type: 'button', class: 'schedule-delete', 'data-schedule': s.name, text: 'Delete' });
    remove.setAttribute('aria-label', 'Delete schedule ' + s.name);
    remove.addEventListener('click', () => deleteSchedule(s.name));
    return el('li', { 'data-schedule': s.name },
      el('div', { class: 'schedule-text' },
        el('span', { class: 'schedule-name', text: s.name }),
        el('span', { class: 'schedule-when', text: '\u201c' + s.scene + '\u201d at ' + s.at + ', ' + daysText(s.days) }),
        el('span', { class: 'schedule-next', text: 'Next: ' + nextRunText(s.next_run) })),
      remove);
  }));
  $('schedule-empty').hidden = page.schedules.length > 0;
  applyRole();
}

function renderScheduleScenes() {
  const select = $('schedule-scene');
  const chosen = select.value;
  select.replaceChildren(...page.scenes.map(({ name }) => el('option', { value: name, text: name })));
  if (page.scenes.some((s) => s.name === chosen)) select.value = chosen;
}

function buildDayButtons() {
  $('schedule-days').replaceChildren(...DAYS.map((day, i) => {
    const button = el('button', { type: 'button', class: 'day', 'data-day': day, text: DAY_LABELS[i],
      'aria-pressed': i < 5 ? 'true' : 'false' });
    button.addEventListener('click', () => {
      button.setAttribute('aria-pressed', button.getAttribute('aria-pressed') === 'true' ? 'false' : 'true');
    });
    return button;
  }));
}

async function addSchedule(event) {
  event.preventDefault();
  const name = $('schedule-name').value.trim();
  if (!name) return;
  if (name.includes('/')) {
    say('schedule-status', 'A schedule name cannot contain \u201c/\u201d.', true);
    return;
  }
  const days = [...document.querySelectorAll('#schedule-days button.day[aria-pressed="true"]')]
    .map((b) => b.dataset.day);
  const body = { scene: $('schedule-scene').value, at: $('schedule-at').value, days };
  say('schedule-status', 'Saving\u2026');
  if (await ask('schedule-status', 'PUT', '/schedules/' + enc(name), 'Added \u201c' + name + '\u201d.', body)) {
    $('schedule-name').value = '';
  }
  await refreshSchedules();
}

const deleteSchedule = (name) => deleteNamed('schedule', name, 'schedules', 'schedule-status', refreshSchedules);

// Success texts go after a while; errors and texts of work in progress stay.
const SUCCESS_TEXT_MS = 6000;

function say(id, text, isError) {
  const node = $(id);
  if (!node) return;
  node.textContent = text;
  node.classList.toggle('error-text', !!isError);
  if (!isError && text && !text.endsWith('\u2026')) {
    setTimeout(() => {
      if (node.textContent === text) node.textContent = '';
    }, SUCCESS_TEXT_MS);
  }
}

// ---- Actions -------------------------------------------------------------

// Sends one request about the matrix on show and says in `statusId` how it
// went: `doneText`, or the error. True when it was done.
async function ask(statusId, method, path, doneText, body) {
  try {
    await api(method, matrixPath(page.current) + path, body);
    say(statusId, doneText);
    return true;
  } catch (e) {
    say(statusId, e.message, true);
    return false;
  }
}

async function route(out, input) {
  const id = page.current;
  const seq = ++page.routeSeq[out];
  page.pending.set(out, input);
  setOutputStatus(out, 'Switching to ' + inputName(input) + '\u2026', false);
  updateOutputRow(out);
  try {
    const result = await api('PUT', matrixPath(id) + '/outputs/' + out, { input });
    if (id !== page.current || seq !== page.routeSeq[out]) return;
    page.pending.delete(out);
    const routed = result && typeof result.input === 'number' ? result.input : input;
    setRouted(out, routed);
    setOutputStatus(out, '', false);
  } catch (e) {
    if (id !== page.current || seq !== page.routeSeq[out]) return;
    page.pending.delete(out);
    setOutputStatus(out, e.message, true);
    updateOutputRow(out);
    // Whatever the matrix did, show what it really carries now.
    await refreshDetail();
  }
}

function setRouted(out, input) {
  const o = page.detail && (page.detail.outputs || []).find((x) => x.number === out);
  if (o) o.input = input;
  updateOutputRow(out);
}

async function saveScene(event) {
  event.preventDefault();
  const field = $('scene-name');
  const name = field.value.trim();
  if (!name) return;
  // The name becomes a path segment of the API, where a slash cannot go even encoded.
  if (name.includes('/')) {
    say('scene-status', 'A scene name cannot contain \u201c/\u201d.', true);
    return;
  }
  say('scene-status', 'Saving\u2026');
  if (await ask('scene-status', 'PUT', '/scenes/' + enc(name), 'Saved \u201c' + name + '\u201d.', { from: 'current' })) {
    field.value = '';
    await refreshScenes();
  }
}

async function recallScene(name) {
  say('scene-status', 'Recalling \u201c' + name + '\u201d\u2026');
  await ask('scene-status', 'POST', '/scenes/' + enc(name) + '/recall', 'Recalled \u201c' + name + '\u201d.');
  await refreshDetail();
}

// Deletes a scene or a schedule after a confirmation, says how it went and reads the list again.
async function deleteNamed(kind, name, collection, statusId, refresh) {
  if (!await confirmAction('Delete ' + kind, 'Delete the ' + kind + ' \u201c' + name + '\u201d?', 'Delete')) return;
  await ask(statusId, 'DELETE', '/' + collection + '/' + enc(name), 'Deleted \u201c' + name + '\u201d.');
  await refresh();
}

const deleteScene = (name) => deleteNamed('scene', name, 'scenes', 'scene-status', refreshScenes);

async function toggleBeep() {
  const on = !(page.detail && page.detail.beep === true);
  say('beep-status', 'Setting\u2026');
  try {
    await api('PUT', matrixPath(page.current) + '/beep', { on });
    if (page.detail) page.detail.beep = on;
    renderBeep();
    say('beep-status', '');
  } catch (e) {
    say('beep-status', e.message, true);
    await refreshDetail();
  }
}

async function factoryReset() {
  const name = page.detail ? page.detail.name || page.detail.id : page.current;
  if (!await confirmAction('Factory reset', 'Return ' + name + ' to its factory settings? Every output gets ' +
      'its own input again, every input a built-in EDID, and the beep goes on.', 'Reset')) return;
  say('reset-status', 'Resetting\u2026');
  await ask('reset-status', 'POST', '/factory-reset', 'The matrix is back to its factory settings.');
  await refreshDetail();
}

async function setEdid(input, choice) {
  const [kind, value] = String(choice).split(':');
  const body = kind === 'copy' ? { copy_from: Number(value) } : { mode: Number(value) };
  await edidRequest(input, body);
}

async function uploadEdid(input, file) {
  if (file.size !== 128 && file.size !== 256) {
    say('edid-' + input + '-status', 'An EDID file has 128 or 256 bytes; this one has ' + file.size + '.', true);
    return;
  }
  const bytes = await file.arrayBuffer();
  await edidRequest(input, bytes, 'application/octet-stream');
}

async function edidRequest(input, body, contentType) {
  const status = 'edid-' + input + '-status';
  const apply = $('edid-' + input + '-apply');
  say(status, 'Setting\u2026');
  apply.disabled = true;
  try {
    await api('PUT', matrixPath(page.current) + '/inputs/' + input + '/edid', body, contentType);
    say(status, 'Done.');
  } catch (e) {
    say(status, e.message, true);
  } finally {
    apply.disabled = false;
  }
  await refreshDetail();
}

function confirmAction(title, message, okText) {
  const dialog = $('confirm-dialog');
  $('confirm-title').textContent = title;
  $('confirm-message').textContent = message;
  $('confirm-ok').textContent = okText;
  dialog.returnValue = '';
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true });
    dialog.showModal();
    $('confirm-cancel').focus();
  });
}

// ---- Event stream --------------------------------------------------------

// EventSource cannot send an Authorization header, so the stream is read
// through fetch and split into events here.
function restartStream() {
  if (page.streamAbort) page.streamAbort.abort();
  page.reconnectAttempt = 0;
  openStream();
}

async function openStream() {
  const controller = new AbortController();
  page.streamAbort = controller;
  let silenceTimer = null;
  const arm = () => {
    clearTimeout(silenceTimer);
    silenceTimer = setTimeout(() => controller.abort(), STREAM_SILENCE_MS);
  };
  let opened = false;
  try {
    arm();
    const response = await fetch(API + '/events', { headers: authHeaders({ Accept: 'text/event-stream' }),
      cache: 'no-store', signal: controller.signal });
    if (response.status === 401) {
      clearTimeout(silenceTimer);
      if (page.streamAbort !== controller) return; // a newer stream, with a newer token, runs
      page.streamAbort = null;
      await askToken(token() !== '');
      return; // the token form restarts the stream
    }
    if (!response.ok || !response.body) throw new Error('stream refused');
    opened = true;
    page.reconnectAttempt = 0;
    setServiceDown(false);
    // Events may have been missed while the stream was away.
    loadMatrices().catch((e) => showLoadError(e));
    const reader = response.body.getReader();
    const decoder = new TextDecoder();
    let buffer = '';
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      arm();
      buffer += decoder.decode(value, { stream: true }).replace(/\r\n?/g, '\n');
      let end;
      while ((end = buffer.indexOf('\n\n')) >= 0) {
        const block = buffer.slice(0, end);
        buffer = buffer.slice(end + 2);
        const data = block.split('\n').filter((line) => line.startsWith('data:'))
          .map((line) => line.slice(5).replace(/^ /, '')).join('\n');
        if (data) handleEventText(data);
      }
    }
  } catch (e) {
    // Aborted or lost: reconnect below unless another stream replaced this one.
  }
  clearTimeout(silenceTimer);
  if (page.streamAbort !== controller) return;
  page.streamAbort = null;
  if (!opened || page.reconnectAttempt > 0) setServiceDown(true);
  const delay = RECONNECT_DELAYS_MS[Math.min(page.reconnectAttempt, RECONNECT_DELAYS_MS.length - 1)];
  page.reconnectAttempt++;
  setTimeout(() => {
    if (!page.streamAbort) openStream();
  }, delay);
}

// The matrix says so once; the notice goes after a while, like the window's.
const STANDBY_NOTICE_MS = 10000;
let standbyTimer = null;
function showStandby() {
  $('standby').hidden = false;
  clearTimeout(standbyTimer);
  standbyTimer = setTimeout(() => { $('standby').hidden = true; }, STANDBY_NOTICE_MS);
}

function setServiceDown(down) {
  $('service-down').hidden = !down;
  document.body.classList.toggle('service-down', down);
}

function handleEventText(text) {
  let event;
  try {
    event = JSON.parse(text);
  } catch (e) {
    return;
  }
  if (event && typeof event === 'object') handleEvent(event);
}

// Events that changed the shown matrix, kept for a while: a snapshot asked
// for before them can arrive after them and must not undo them.
const RECENT_EVENTS_MAX = 200;
const recentEvents = [];
let eventSeq = 0;

// Sets one field of port `number` of a details list, when the list has it.
function setPortField(ports, number, field, value) {
  const port = (ports || []).find((x) => x.number === number);
  if (port) port[field] = value;
}

// How each kind of state event changes a matrix's details.
const STATE_EVENTS = {
  routing: (d, e) => setPortField(d.outputs, e.output, 'input', e.input),
  link: (d, e) => { d.link = e.link; },
  cable: (d, e) => setPortField(e.port === 'output' ? d.outputs : d.inputs, e.number, 'cable', e.cable),
  beep: (d, e) => { d.beep = e.on; },
  lock: (d, e) => setPortField(d.outputs, e.output, 'locked', e.locked),
  scene: (d, e) => { d.active_scene = e.active; },
  pending: (d, e) => { d.pending = e.pending || {}; },
  edid: (d, e) => {
    d.edid = d.edid || [];
    let row = d.edid.find((x) => x.input === e.input);
    if (!row) {
      row = { input: e.input };
      d.edid.push(row);
    }
    row.code = e.code;
    row.text = e.text;
  },
};

// Writes a state event into a matrix's details; true when it was one.
function applyState(d, event) {
  const apply = Object.hasOwn(STATE_EVENTS, event.type) ? STATE_EVENTS[event.type] : null;
  if (!apply) return false;
  apply(d, event);
  return true;
}

function handleEvent(event) {
  if (event.type === 'link') {
    const summary = page.matrices.find((m) => m.id === event.matrix);
    if (summary) summary.link = event.link;
    renderPicker();
  }
  if (event.matrix !== page.current || !page.detail) return;
  if (applyState(page.detail, event)) {
    recentEvents.push({ seq: ++eventSeq, event });
    if (recentEvents.length > RECENT_EVENTS_MAX) recentEvents.shift();
  }
  switch (event.type) {
    case 'routing':
    case 'lock':
      if (event.output >= 1 && event.output <= 4) updateOutputRow(event.output);
      break;
    case 'link':
      renderLink();
      // Coming back, the service has read the matrix again.
      if (event.link === 'up') refreshDetail();
      break;
    case 'cable':
      renderCables();
      renderGrid();
      break;
    case 'beep':
      renderBeep();
      break;
    case 'edid':
      renderEdid();
      break;
    case 'scenes':
      refreshScenes();
      break;
    case 'scene':
      renderScenes();
      break;
    case 'pending':
      renderStaged();
      break;
    case 'schedule':
      say('schedule-status', 'Schedule \u201c' + event.name + '\u201d: ' + ({ done: 'recalled \u201c' + event.scene +
        '\u201d', failed: 'the recall failed', missed: 'missed (the link was down)' }[event.result] || event.result) + '.',
      event.result !== 'done');
      refreshSchedules();
      break;
    case 'schedules':
      refreshSchedules();
      break;
    case 'names':
    case 'info':
      refreshDetail();
      break;
    case 'standby':
      showStandby();
      break;
    case 'firmware':
      showFirmware(event);
      break;
    default:
      break;
  }
}

// The last event says how it ended; every event carries how far it got.
function firmwareText(event) {
  const sent = Number.isFinite(event.done) && Number.isFinite(event.total)
    ? ' (' + event.done + ' of ' + event.total + ' blocks sent)' : '';
  if (event.state === 'failed') return 'Firmware update failed: ' + (event.error || 'unknown error') + sent + '.';
  if (event.state === 'done') return 'Firmware update finished' + sent + '.';
  if (!sent) return 'Firmware update running.';
  return 'Firmware update: ' + event.done + ' of ' + event.total + ' blocks sent.';
}

function showFirmware(event) {
  const node = $('firmware');
  node.textContent = firmwareText(event);
  node.hidden = false;
}

// ---- Start ---------------------------------------------------------------

function start() {
  setupToken();
  $('matrix-select').addEventListener('change', (e) => {
    $('standby').hidden = true;
    showMatrix(e.target.value).catch((err) => showLoadError(err));
  });
  $('scene-form').addEventListener('submit', saveScene);
  $('preview').addEventListener('click', togglePreview);
  $('take').addEventListener('click', take);
  $('clear-pending').addEventListener('click', clearPending);
  buildDayButtons();
  $('schedule-form').addEventListener('submit', addSchedule);
  $('beep').addEventListener('click', toggleBeep);
  $('factory-reset').addEventListener('click', factoryReset);
  window.addEventListener('hashchange', () => {
    const id = decodeURIComponent(location.hash.slice(1));
    if (id && id !== page.current && page.matrices.some((m) => m.id === id)) showMatrix(id);
  });
  // The stream's first connection also loads the matrices.
  openStream();
}

start();
