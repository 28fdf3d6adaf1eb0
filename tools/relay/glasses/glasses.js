// The glasses, played in a browser: pairs with a PIN, subscribes to the channel and shows each
// snapshot as the glasses would. Everything from the relay is shown through textContent only.
'use strict';

const storageKey = 'orvane.glasses.pairing';
const staleAfterMs = 15000;
const unansweredAfterMs = 15000;
const runningStates = new Set(['queued', 'thinking', 'reading', 'editing', 'testing', 'building',
  'waiting_for_approval', 'waiting_for_user']);
const stateNames = {
  queued: 'Queued', thinking: 'Thinking', reading: 'Reading', editing: 'Editing', testing: 'Testing',
  building: 'Building', waiting_for_approval: 'Needs approval', waiting_for_user: 'Needs answer',
  finished: 'Finished', failed: 'Failed', stopped: 'Stopped', unknown: 'Unknown',
};

const $ = (id) => document.getElementById(id);
const state = {
  pairing: null,      // {channelId, subscriberToken}
  socket: null,
  attempt: 0,
  reconnectTimer: 0,
  pollTimer: 0,
  pinRound: 0,        // a newer PIN ends the polling for older ones
  publisherOnline: null,
  lastSnapshotAt: 0,
  snapshot: null,
  ended: false,       // the relay no longer knows the channel
};

function text(element, value) {
  element.textContent = value === undefined || value === null ? '' : String(value);
}

function item(list, value, className) {
  const li = document.createElement('li');
  text(li, value);
  if (className) li.className = className;
  list.appendChild(li);
  return li;
}

function say(message, tone) {
  const line = $('connection');
  text(line, message);
  line.className = tone || '';
}

// ----- Pairing -----

function loadPairing() {
  try {
    const saved = JSON.parse(localStorage.getItem(storageKey) || 'null');
    if (saved && typeof saved.channelId === 'string' && typeof saved.subscriberToken === 'string') return saved;
  } catch (ignored) { /* a damaged entry is as good as none */ }
  return null;
}

async function requestPin() {
  clearTimeout(state.pollTimer);
  const round = ++state.pinRound;
  $('pairing').hidden = false;
  $('live').hidden = true;
  text($('pin'), '––––––');
  text($('pair-line'), '');
  say('Asking the relay for a PIN…');
  let answer;
  try {
    const response = await fetch('/v1/pairings', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: '{}' });
    answer = await response.json();
    if (!response.ok || typeof answer.pin !== 'string' || typeof answer.pairingId !== 'string') throw new Error(answer.message);
  } catch (error) {
    say('The relay gave no PIN. Is orvane-relay running? Retrying in 5 s.', 'bad');
    state.pollTimer = setTimeout(requestPin, 5000);
    return;
  }
  if (round !== state.pinRound) return;
  text($('pin'), answer.pin);
  text($('pair-line'), `ORVANE_RELAY_URL=${location.origin} orvane --pair ${answer.pin}`);
  const until = new Date(answer.expiresAt);
  text($('pairing-note'), `Waiting for the companion… The PIN is valid until ${until.toLocaleTimeString()}.`);
  say('Not paired yet.');
  pollPairing(answer.pairingId, round);
}

async function pollPairing(pairingId, round) {
  let answer = null;
  let status = 0;
  try {
    const response = await fetch(`/v1/pairings/${encodeURIComponent(pairingId)}`);
    status = response.status;
    answer = await response.json();
  } catch (ignored) { /* the relay is away; ask again below */ }
  if (round !== state.pinRound) return;
  if (status === 404) {
    requestPin();  // expired: a fresh PIN
    return;
  }
  if (answer && answer.status === 'completed' && typeof answer.channelId === 'string'
      && typeof answer.subscriberToken === 'string') {
    state.pairing = { channelId: answer.channelId, subscriberToken: answer.subscriberToken };
    localStorage.setItem(storageKey, JSON.stringify(state.pairing));
    showLive();
    return;
  }
  state.pollTimer = setTimeout(() => pollPairing(pairingId, round), status ? 1000 : 3000);
}

function forget() {
  clearTimeout(state.reconnectTimer);
  localStorage.removeItem(storageKey);
  state.pairing = null;
  state.snapshot = null;
  if (state.socket) {
    state.socket.onclose = null;
    state.socket.close(1000);
    state.socket = null;
  }
  text($('raw'), '');
  text($('raw-meta'), 'No snapshot yet.');
  $('results').replaceChildren();
  requestPin();
}

// ----- Channel -----

function showLive() {
  $('pairing').hidden = true;
  $('live').hidden = false;
  state.ended = false;
  state.attempt = 0;
  render();
  connect();
}

function connect() {
  clearTimeout(state.reconnectTimer);
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  const url = `${scheme}//${location.host}/v1/channels/${encodeURIComponent(state.pairing.channelId)}/connect`;
  say('Connecting to the relay…');
  const socket = new WebSocket(url);
  state.socket = socket;
  socket.onopen = () => {
    socket.send(JSON.stringify({ type: 'authenticate', role: 'subscriber', token: state.pairing.subscriberToken }));
  };
  socket.onmessage = (message) => {
    if (socket === state.socket && typeof message.data === 'string') receive(message.data);
  };
  socket.onclose = (closed) => {
    if (socket !== state.socket) return;
    state.socket = null;
    state.publisherOnline = null;
    if (closed.code === 1008 && !state.ended && closed.reason === 'Unknown channel') state.ended = true;
    if (state.ended) {
      say('The relay no longer knows this pairing (the companion unpaired). Press Forget to pair again.', 'bad');
      render();
      return;
    }
    state.attempt += 1;
    const delay = Math.min(30, 2 ** Math.min(state.attempt, 5)) * 1000;
    say(`Lost the relay. Trying again in ${delay / 1000} s…`, 'bad');
    render();
    state.reconnectTimer = setTimeout(connect, delay);
  };
}

function receive(data) {
  let message;
  try { message = JSON.parse(data); } catch (ignored) { return; }
  if (!message || typeof message !== 'object') return;
  switch (message.type) {
  case 'authenticated':
    state.attempt = 0;
    state.lastSnapshotAt = Date.now();
    say('Connected to the relay.', 'good');
    break;
  case 'publisher':
    state.publisherOnline = message.online === true;
    state.lastSnapshotAt = Date.now();
    if (state.publisherOnline) say('The companion is online.', 'good');
    else say('The companion is offline. It reconnects by itself once it runs again.', 'bad');
    break;
  case 'snapshot':
    if (message.snapshot && typeof message.snapshot === 'object') {
      state.snapshot = message.snapshot;
      state.lastSnapshotAt = Date.now();
      showRaw(message.snapshot, new TextEncoder().encode(data).length);
    }
    break;
  case 'event':
    if (message.event && message.event.type === 'command_result') showResult(message.event);
    break;
  case 'error':
    if (message.message === 'The token is not valid for this channel.') state.ended = true;
    say(`The relay says: ${message.message}`, 'bad');
    break;
  default:
    break;
  }
  render();
}

// ----- Commands -----

function sendCommand(command) {
  if (!state.socket || state.socket.readyState !== WebSocket.OPEN) {
    say('Not connected to the relay; the command was not sent.', 'bad');
    return;
  }
  const expiresAt = new Date(Date.now() + 60000).toISOString().replace(/\.\d{3}Z$/, 'Z');
  const full = { type: command.type, commandId: crypto.randomUUID(), expiresAt, ...command };
  state.socket.send(JSON.stringify({ type: 'command', command: full }));
  const line = item($('results'), '', 'pending');
  line.dataset.commandId = full.commandId;
  if (full.type === 'request_snapshot') {
    text(line, 'request_snapshot sent: the answer is the next snapshot.');
    return;
  }
  line.dataset.label = `${full.type} ${full.threadId}`;
  text(line, `${line.dataset.label}: sent, waiting for the result…`);
  setTimeout(() => {
    if (line.className !== 'pending') return;
    line.className = 'unanswered';
    text(line, `${line.dataset.label}: no result; the companion dropped the command or is offline.`);
  }, unansweredAfterMs);
}

function showResult(event) {
  const known = [...$('results').children].find((li) => li.dataset.commandId === event.commandId);
  const line = known || item($('results'), '');
  line.className = typeof event.status === 'string' ? event.status : 'failed';
  const label = known ? `${known.dataset.label}: ` : '';
  text(line, `${label}${event.status}: ${event.message} (sequence ${event.sequence})`);
}

// ----- Rendering -----

function elapsed(thread, now) {
  const started = Date.parse(thread.startedAt);
  if (Number.isNaN(started)) return '';
  // A running turn ticks from its start; a finished one shows its duration.
  const seconds = thread.completedAt && Number.isInteger(thread.durationSeconds) ? thread.durationSeconds
    : Math.max(0, Math.floor(((thread.completedAt ? Date.parse(thread.completedAt) : now) - started) / 1000));
  const h = Math.floor(seconds / 3600);
  const m = Math.floor((seconds % 3600) / 60);
  const s = String(seconds % 60).padStart(2, '0');
  return h ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
}

function currentThread(snapshot) {
  const threads = Array.isArray(snapshot.threads) ? snapshot.threads : [];
  return threads.find((t) => t && t.id === snapshot.activeThreadId) || null;
}

function stateName(thread) {
  return stateNames[thread.status] || thread.status;
}

function lastWords(thread) {
  const entries = Array.isArray(thread.transcript) ? thread.transcript : [];
  const last = entries.filter((entry) => entry && entry.kind !== 'user').pop();
  return thread.summary || (last ? last.text : '');
}

function details(thread) {
  const parts = [];
  const git = thread.git;
  if (git && typeof git === 'object') {
    parts.push(`git ${git.branch || 'detached'}  ${git.changedFiles} changed  +${git.additions} −${git.deletions}`);
  }
  if (thread.model) parts.push([thread.model, thread.reasoningEffort].filter(Boolean).join(' · '));
  if (thread.checks && typeof thread.checks === 'object') {
    parts.push(`tests ${thread.checks.test}  build ${thread.checks.build}`);
  }
  return parts.join('\n');
}

function usageLine(window) {
  const used = typeof window.percentUsed === 'number' ? `${Math.round(window.percentUsed)}% used` : 'usage unknown';
  const reset = window.resetAt ? `, resets ${new Date(window.resetAt).toLocaleString()}` : '';
  return `${window.label}: ${used}${reset}`;
}

function render() {
  const snapshot = state.snapshot;
  const now = Date.now();
  const thread = snapshot ? currentThread(snapshot) : null;
  text($('d-project'), thread ? `${thread.projectName || 'no project'} · ${stateName(thread).toUpperCase()}` : '');
  text($('d-elapsed'), thread ? elapsed(thread, now) : '');
  text($('d-title'), thread ? thread.title : (snapshot ? 'No Codex threads' : 'Waiting for the first snapshot…'));
  text($('d-state'), thread ? (thread.activityText || stateName(thread)) : '');
  text($('d-details'), thread ? details(thread) : '');
  text($('d-words'), thread ? lastWords(thread) : '');

  const threads = $('d-threads');
  threads.replaceChildren();
  if (snapshot && Array.isArray(snapshot.threads)) {
    for (const other of snapshot.threads.filter((t) => t && t !== thread).slice(0, 3)) {
      item(threads, `${stateName(other).padEnd(14)} ${other.title}`);
    }
  }
  const usage = $('d-usage');
  usage.replaceChildren();
  if (snapshot && snapshot.usage && Array.isArray(snapshot.usage.windows)) {
    for (const window of snapshot.usage.windows.slice(0, 2)) item(usage, usageLine(window));
  }
  const health = snapshot && snapshot.companion ? snapshot.companion : null;
  text($('d-health'), health
    ? `Codex ${health.connected ? 'connected' : 'disconnected'} · ${health.codexVersion || 'Codex version unknown'} · companion ${health.version} · #${snapshot.sequence}`
    : '');

  const offline = companionProblem(now);
  $('d-banner').hidden = !offline;
  text($('d-banner'), offline);
  const reachable = Boolean(state.socket) && state.publisherOnline !== false;
  $('request-snapshot').disabled = !reachable;
  $('stop-thread').disabled = !(reachable && thread && runningStates.has(thread.status) && thread.cancellationSupported === true);
  $('stop-thread').dataset.threadId = thread ? thread.id : '';
}

function companionProblem(now) {
  if (state.ended) return 'This pairing has ended.';
  if (!state.socket) return 'Not connected to the relay.';
  if (state.publisherOnline === false) return 'The companion is offline.';
  if (now - state.lastSnapshotAt > staleAfterMs) {
    return 'No snapshot for 15 s: the companion may be offline.';
  }
  return '';
}

function showRaw(snapshot, bytes) {
  text($('raw-meta'), `Sequence ${snapshot.sequence} · ${bytes} bytes · received ${new Date().toLocaleTimeString()}`);
  text($('raw'), JSON.stringify(snapshot, null, 2));
}

// ----- Start -----

document.addEventListener('DOMContentLoaded', () => {
  $('new-pin').addEventListener('click', requestPin);
  $('forget').addEventListener('click', forget);
  $('copy').addEventListener('click', async () => {
    try {
      await navigator.clipboard.writeText($('pair-line').textContent);
      text($('copy'), 'Copied');
    } catch (ignored) {
      getSelection().selectAllChildren($('pair-line'));
    }
  });
  $('request-snapshot').addEventListener('click', () => sendCommand({ type: 'request_snapshot' }));
  $('stop-thread').addEventListener('click', () => {
    const threadId = $('stop-thread').dataset.threadId;
    if (threadId) sendCommand({ type: 'stop_thread', threadId });
  });
  setInterval(() => { if (state.pairing) render(); }, 1000);

  state.pairing = loadPairing();
  if (state.pairing) showLive();
  else requestPin();
});
