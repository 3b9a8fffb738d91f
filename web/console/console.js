// The web console: reads the server's API, follows its event stream, and asks it to play,
// stop and announce. Plain script, no library: the page works from the program alone.
"use strict";

const $ = (id) => document.getElementById(id);
const state = { playlists: [], status: { destinations: [], sources: [] }, zones: [] };

function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (k === "class") node.className = v;
    else if (k.startsWith("on")) node.addEventListener(k.slice(2), v);
    else node.setAttribute(k, v);
  }
  for (const c of children) node.append(c);
  return node;
}

async function api(path, method = "GET", body = undefined) {
  const options = { method, headers: {}, credentials: "same-origin" };
  if (method !== "GET") {
    options.headers["Content-Type"] = "application/json";
    options.body = JSON.stringify(body || {});
  }
  const res = await fetch(path, options);
  const data = await res.json().catch(() => ({ ok: false, error: "the server's answer was not JSON" }));
  if (res.status === 401) showLogin();
  if (!res.ok) throw new Error(data.error || `HTTP ${res.status}`);
  return data;
}

function showLogin() {
  $("login").hidden = false;
  $("console").hidden = true;
  $("token").focus();
}

function priorityClass(p) {
  if (p >= 100) return "p-emergency";
  if (p >= 70) return "p-high";
  if (p >= 50) return "p-mid";
  return "p-low";
}

function playing(name) {
  return state.status.sources.some((s) => s.name === name);
}

function levelPercent(level) {
  if (!(level > 0)) return 0;
  const db = 20 * Math.log10(level);  // -60 dB empty, 0 dB full
  return Math.max(0, Math.min(100, ((db + 60) / 60) * 100));
}

function renderSite() {
  const site = $("site");
  site.replaceChildren();
  // Every destination the store knows, those the server has not sent to yet as idle.
  const shown = [...state.status.destinations];
  const all = state.zones.find((z) => z.name === "All");
  for (const d of all ? all.destinations : []) {
    const key = `${d.address} : ${d.port}`;
    if (!shown.some((s) => s.destination === key)) {
      shown.push({ destination: key, source: "", ducked: [], muted: [], level: 0 });
    }
  }
  $("site-empty").hidden = shown.length > 0;
  for (const d of shown) {
    const on = d.source !== "";
    const card = el("div", { class: on ? "dest" : "dest idle", "data-destination": d.destination },
      el("div", { class: "addr" }, d.destination),
      el("div", { class: "what" }, on ? `${d.source} · ${d.kind} · priority ${d.priority} · ${d.state}` : "idle"));
    const under = [...d.ducked.map((n) => `${n} (ducked)`), ...d.muted.map((n) => `${n} (muted)`)];
    if (under.length) card.append(el("div", { class: "under" }, "under it: " + under.join(", ")));
    const meter = el("div", { class: "meter", role: "meter", "aria-label": "level",
      "aria-valuemin": "0", "aria-valuemax": "100", "aria-valuenow": String(Math.round(levelPercent(d.level))) });
    const bar = el("span");
    bar.style.width = `${levelPercent(d.level)}%`;
    meter.append(bar);
    card.append(meter);
    site.append(card);
  }
}

function renderZones() {
  const list = $("zones");
  list.replaceChildren();
  for (const z of state.zones) {
    list.append(el("li", { title: z.destinations.map((d) => `${d.address}:${d.port}`).join(", ") },
      `${z.name} · ${z.destinations.length}`));
  }
}

let shownPlaylists = "";

function renderPlaylists() {
  // Drawn again only when something changed, with the focus kept where it was, so that a
  // keyboard user is not thrown out of the list every second.
  const signature = JSON.stringify([state.playlists, state.zones, state.status.sources.map((s) => s.name)]);
  if (signature === shownPlaylists) return;
  shownPlaylists = signature;
  const focused = document.activeElement;
  const refocus = focused && focused.dataset && focused.dataset.playlist
    ? [focused.parentElement.closest("[id]").id, focused.dataset.playlist] : null;
  const board = $("board");
  const background = $("background");
  board.replaceChildren();
  background.replaceChildren();
  const announcements = state.playlists.filter((p) => p.role === "announcement");
  $("board-empty").hidden = announcements.length > 0;
  for (const p of announcements) {
    const button = el("button", { type: "button", class: `${priorityClass(p.priority)}${playing(p.name) ? " playing" : ""}`,
      "data-playlist": p.name, "aria-pressed": String(playing(p.name)),
      onclick: () => play(p.name) },
      p.name, el("small", {}, `priority ${p.priority}${playing(p.name) ? " · on air" : ""}`));
    board.append(button);
  }
  for (const p of state.playlists.filter((q) => q.role !== "announcement")) {
    const on = playing(p.name);
    background.append(el("li", {},
      el("span", {}, `${p.name} `, el("small", { class: "muted" }, on ? "playing" : "stopped")),
      el("button", { type: "button", class: on ? "stop" : "", "data-playlist": p.name,
        onclick: () => (on ? stop(p.name) : play(p.name)) }, on ? "Stop" : "Play")));
  }
  const to = $("say-to");
  const chosen = to.value;
  to.replaceChildren();
  for (const z of state.zones) to.append(el("option", { value: `zone:${z.name}` }, `zone ${z.name}`));
  for (const p of state.playlists) to.append(el("option", { value: `playlist:${p.name}` }, `playlist ${p.name}`));
  if (chosen) to.value = chosen;
  if (refocus) {
    const again = $(refocus[0]).querySelector(`button[data-playlist="${CSS.escape(refocus[1])}"]`);
    if (again) again.focus();
  }
}

function renderSchedule(events) {
  const days = new Map();
  const now = new Date();
  const weekEnd = new Date(now.getTime() + 7 * 86400e3).toISOString().slice(0, 10);
  for (const e of events) {
    for (const next of e.next) {
      const day = next.slice(0, 10);
      if (day > weekEnd) continue;
      if (!days.has(day)) days.set(day, []);
      days.get(day).push({ time: next.slice(11, 16), what: e.say ? `says "${e.say}"` : e.playlist, zone: e.zone });
    }
  }
  const box = $("schedule");
  box.replaceChildren();
  if (days.size === 0) box.append(el("p", { class: "muted" }, "Nothing is scheduled this week."));
  const today = `${now.getFullYear()}-${String(now.getMonth() + 1).padStart(2, "0")}-${String(now.getDate()).padStart(2, "0")}`;
  for (const day of [...days.keys()].sort()) {
    const items = days.get(day).sort((a, b) => a.time.localeCompare(b.time));
    box.append(el("div", { class: "day" }, el("h3", {}, day === today ? `Today, ${day}` : day),
      el("ul", {}, ...items.map((i) => el("li", {}, `${i.time} ${i.what}${i.zone ? " → " + i.zone : ""}`)))));
  }
}

function log(text, failed = false) {
  const item = el("li", failed ? { class: "failed" } : {}, `${new Date().toLocaleTimeString()} ${text}`);
  $("log").prepend(item);
  while ($("log").children.length > 50) $("log").lastChild.remove();
}

async function loadStatus() {
  try {
    state.status = await api("/api/status");
  } catch (e) {
    state.status = { destinations: [], sources: [] };
  }
  renderSite();
  renderPlaylists();
}

async function loadPlaylists() {
  const list = await api("/api/playlists");
  state.playlists = await Promise.all(list.map((p) => api(`/api/playlists/${encodeURIComponent(p.name)}`)));
  state.zones = await api("/api/zones");
  renderZones();
  renderPlaylists();
}

async function loadSchedule() {
  renderSchedule(await api("/api/schedules?count=20"));
}

async function play(name) {
  try {
    const r = await api(`/api/playlists/${encodeURIComponent(name)}/play`, "POST", {});
    log(`asked to play ${name} (${r.destinations} destination(s))`);
  } catch (e) {
    log(`${name}: ${e.message}`, true);
  }
  loadStatus();
}

async function stop(name) {
  try {
    await api(`/api/playlists/${encodeURIComponent(name)}/stop`, "POST", {});
  } catch (e) {
    log(`${name}: ${e.message}`, true);
  }
  loadStatus();
}

async function say(event) {
  event.preventDefault();
  const [kind, name] = $("say-to").value.split(/:(.*)/s);
  const body = { text: $("say-text").value, priority: Number($("say-priority").value), voice: $("say-voice").value };
  if (kind === "zone") body.zones = [name];
  else body.playlist = name;
  $("say-button").disabled = true;
  try {
    const r = await api("/api/announce", "POST", body);
    $("say-result").textContent = `Saying ${r.seconds.toFixed(1)} s to ${r.destinations} destination(s).`;
  } catch (e) {
    $("say-result").textContent = e.message;
  } finally {
    $("say-button").disabled = false;
  }
  loadStatus();
}

function follow() {
  const source = new EventSource("/api/events");
  source.onopen = () => { $("link").textContent = "live"; $("link").className = "link live"; };
  source.onerror = () => { $("link").textContent = "reconnecting…"; $("link").className = "link lost"; };
  source.onmessage = (message) => {
    const e = JSON.parse(message.data);
    const text = e.event === "scheduled" ? `schedule ${e.schedule} fired: ${e.name}` : `${e.event} ${e.kind} ${e.name}`;
    log(e.message ? `${text}: ${e.message}` : text, e.event === "failed" || Boolean(e.message));
    loadStatus();
  };
}

async function start() {
  $("login").hidden = true;
  $("console").hidden = false;
  try {
    await loadPlaylists();
    await loadStatus();
    await loadSchedule();
  } catch (e) {
    log(e.message, true);
    return;
  }
  follow();
  setInterval(loadStatus, 1000);
  setInterval(loadPlaylists, 30000);
  setInterval(loadSchedule, 60000);
}

$("login").addEventListener("submit", async (event) => {
  event.preventDefault();
  try {
    await api("/api/login", "POST", { token: $("token").value });
    start();
  } catch (e) {
    $("login-error").textContent = e.message;
  }
});
$("say").addEventListener("submit", say);
start();
