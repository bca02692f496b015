// The web console of raduvuz-web: the modules at a glance, then a module's two job lists as in
// the module's own console. Every rule stays in the module: the buttons are enabled from its
// AllowedActions, the redirect dialog offers its RedirectChoices, a search is its FindJobs. The
// lists follow the gateway's copy: after an event the page asks only for what changed.
"use strict";

const api = "/api/v1/";
// Window texts by number (common/WindowTexts), in the language the browser asked for.
const W = {
  start: 2114, stop: 2116, abort: 2118, del: 2122, reprocess: 2130, processJobs: 2132,
  passedJobs: 2133, selectAll: 2135, saveAs: 2136, rename: 2137, release: 2139, priority: 2141,
  hold: 2142, search: 2144, redirect: 2149, colJob: 2163, colDoc: 2164, colProcessing: 2165,
  colPassed: 2166, colPage: 2167, colColor: 2168, colDate: 2169, colTime: 2170, colType: 2171,
  colSize: 2172, colDest: 2173, ok: 2190, cancel: 2191, priorityCaption: 2192,
  priorityLabel: 2193, priorityRange: 2194, devicesCaption: 2195, searchCaption: 2200,
  jobStatus: 2201, jobIdLabel: 2202, docIdLabel: 2203, nameLabel: 2204, pageLabel: 2205,
  colorLabel: 2206, dateLabel: 2207, typeLabel: 2208, sizeLabel: 2209, sizeUnit: 2210,
  destLabel: 2211, find: 2212, textMatch: 2214, counts: 2223,
  signIn: 2240, user: 2241, password: 2242, signOut: 2243, wrongPassword: 2244, tooMany: 2245,
  modules: 2246, noModule: 2247, idle: 2248, working: 2249, failedStatus: 2250, running: 2251,
  paused: 2252, inProcess: 2253, held: 2254, passed: 2255, signedInAs: 2256, viewer: 2257,
  operator: 2258, reconnecting: 2259, state: 2260, priorityColumn: 2261, reading: 2262,
  transferring: 2263, spooling: 2264, waiting: 2265, sending: 2266, failedJob: 2267,
  confirmAbort: 2268, confirmDelete: 2269, renameJobs: 2270, copyJobs: 2271, redirectJobs: 2272,
  priorityJobs: 2273, done: 2274, notDone: 2275, found: 2276, showAll: 2277, noJobs: 2278,
  allModules: 2279, selected: 2280, more: 2281, ownDevices: 2282, moduleGone: 2283,
  failedCall: 2284, viewerNote: 2285, folderHint: 2286, moduleNumber: 2289,
};

const states = {
  reading: W.reading, transferring: W.transferring, spooling: W.spooling, waiting: W.waiting,
  held: W.held, sending: W.sending, passed: W.passed, failed: W.failedJob,
};

// The buttons of each list, in the console's order, by the action names of AllowedActions.
const listActions = {
  process: ["hold", "release", "abort", "priority", "rename"],
  passed: ["reprocess", "redirect", "del", "rename", "copy"],
};
const actionText = {
  hold: W.hold, release: W.release, abort: W.abort, priority: W.priority, rename: W.rename,
  reprocess: W.reprocess, redirect: W.redirect, del: W.del, copy: W.saveAs,
};
// The API's name of each action ("delete" is a word JavaScript keeps for itself).
const actionPath = (action) => (action === "del" ? "delete" : action);

const columns = [
  { key: "state", cls: "c-state", text: () => T(W.state) },
  { key: "job", cls: "c-job", text: () => T(W.colJob), num: true },
  { key: "doc", cls: "c-doc", text: () => T(W.colDoc), num: true },
  { key: "name", cls: "c-name", text: (list) => T(list === "process" ? W.colProcessing : W.colPassed) },
  { key: "page", cls: "c-page", text: () => T(W.colPage) },
  { key: "color", cls: "c-color", text: () => T(W.colColor) },
  { key: "created", cls: "c-date", text: () => T(W.colDate) },
  { key: "time", cls: "c-time", text: () => T(W.colTime), sortKey: "created" },
  { key: "type", cls: "c-type", text: () => T(W.colType) },
  { key: "size", cls: "c-size", text: () => T(W.colSize), num: true },
  { key: "destination", cls: "c-dest", text: () => T(W.colDest) },
  { key: "priority", cls: "c-pri", text: () => T(W.priorityColumn), num: true },
];

const app = {
  texts: {},
  language: "en",
  session: null,
  modules: [],
  events: null,
  module: null,
};

const $ = (selector, root = document) => root.querySelector(selector);

function T(number) {
  const text = app.texts[number];
  return text === undefined ? "#" + number : text;
}

// "%d jobs: %s" with its values in order.
function fmt(text, ...values) {
  let i = 0;
  return text.replace(/%[ds]/g, () => String(values[i++]));
}

function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === "class") node.className = value;
    // Through the style object: the page's policy refuses style attributes.
    else if (key === "style") node.style.cssText = value;
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else if (value === true) node.setAttribute(key, "");
    else if (value !== false && value !== undefined && value !== null) node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined && child !== false)
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

class ApiError extends Error {
  constructor(status, name, message) {
    super(message);
    this.status = status;
    this.name = name;
  }
}

async function call(method, path, body) {
  const headers = {};
  if (method !== "GET") {
    headers["Content-Type"] = "application/json";
    if (app.session && app.session.csrf) headers["X-CSRF-Token"] = app.session.csrf;
  }
  const response = await fetch(api + path, {
    method,
    headers,
    credentials: "same-origin",
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  let answer = null;
  try {
    answer = await response.json();
  } catch (e) {
    answer = null;
  }
  if (!response.ok) {
    const error = new ApiError(response.status, answer && answer.error, (answer && answer.message) || response.statusText);
    if (response.status === 401 && path !== "login") signedOut();
    throw error;
  }
  return answer;
}

function notice(text, ok = false) {
  const box = $("#notice");
  box.textContent = text || "";
  box.className = ok ? "ok" : "";
  box.hidden = !text;
  clearTimeout(notice.timer);
  if (text && ok) notice.timer = setTimeout(() => { box.hidden = true; }, 6000);
}

// ---- Start, sign-in, session ----

async function start() {
  // A module's page asks for its rows at once, beside the texts and the session.
  const match = /^#\/module\/(\d+)$/.exec(location.hash);
  if (match) {
    app.prefetch = { number: Number(match[1]),
      answer: call("GET", "modules/" + match[1] + "/jobs?since=0").catch(() => null) };
  }
  const [texts, session] = await Promise.allSettled([
    fetch(api + "texts").then((response) => response.json()),
    call("GET", "session"),
  ]);
  if (texts.status === "fulfilled") {
    app.texts = texts.value.texts;
    app.language = texts.value.language;
    document.documentElement.lang = texts.value.language;
  }
  app.session = session.status === "fulfilled" ? session.value : null;
  window.addEventListener("hashchange", route);
  if (app.session) enter();
  else showSignIn();
}

function showSignIn(message = "") {
  closeEvents();
  app.session = null;
  $("#who").replaceChildren();
  $("#crumb").textContent = "";
  const error = el("p", { class: "error", role: "alert" }, message);
  const user = el("input", { name: "user", autocomplete: "username", required: true });
  const password = el("input", { name: "password", type: "password", autocomplete: "current-password", required: true });
  const form = el("form", { class: "signin", id: "signin" },
    el("h1", {}, T(W.signIn)),
    el("label", {}, T(W.user), user),
    el("label", {}, T(W.password), password),
    error,
    el("button", { class: "primary", type: "submit" }, T(W.signIn)));
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    error.textContent = "";
    try {
      app.session = await call("POST", "login", { user: user.value, password: password.value });
      enter();
    } catch (e) {
      error.textContent = e.status === 429 ? T(W.tooMany) : e.status === 401 ? T(W.wrongPassword) : e.message;
    }
  });
  $("#view").replaceChildren(form);
  user.focus();
}

function signedOut() {
  if (app.session) showSignIn();
}

function enter() {
  const role = app.session.role === "operator" ? T(W.operator) : T(W.viewer);
  $("#who").replaceChildren(
    el("span", { id: "user" }, fmt(T(W.signedInAs), app.session.user) + " (" + role + ")"),
    el("button", { id: "signout", onclick: signOut }, T(W.signOut)));
  openEvents();
  loadModules();
  route();
}

async function signOut() {
  try {
    await call("POST", "logout");
  } catch (e) {
    // The session is gone either way.
  }
  showSignIn();
}

const isOperator = () => app.session && app.session.role === "operator";

// ---- Events ----

function openEvents() {
  closeEvents();
  const events = new EventSource(api + "events");
  app.events = events;
  let opened = false;
  events.addEventListener("open", () => {
    notice("");
    // After a drop anything may have changed: everything is loaded again.
    if (opened) {
      loadModules();
      if (app.module) loadJobs(true);
    }
    opened = true;
  });
  events.addEventListener("error", async () => {
    if (app.events !== events) return;
    notice(T(W.reconnecting));
    if (events.readyState === EventSource.CLOSED) {
      try {
        await call("GET", "session");
        setTimeout(() => { if (app.events === events) openEvents(); }, 3000);
      } catch (e) {
        // Signed out: the sign-in form is up.
      }
    }
  });
  events.addEventListener("modules", (event) => {
    app.modules = JSON.parse(event.data);
    showModules();
  });
  events.addEventListener("jobs", (event) => {
    const data = JSON.parse(event.data);
    const module = app.modules.find((m) => m.module === data.module);
    if (module && data.counts) {
      module.counts = data.counts;
      showModules();
    }
    if (app.module && app.module.number === data.module && data.serial !== app.module.serial) loadJobs(false);
  });
}

function closeEvents() {
  if (app.events) app.events.close();
  app.events = null;
}

// ---- Routes: #/ the modules, #/module/N one module ----

function route() {
  if (!app.session) return;
  const match = /^#\/module\/(\d+)$/.exec(location.hash);
  if (match) openModule(Number(match[1]));
  else {
    app.module = null;
    showOverview();
  }
}

async function loadModules() {
  try {
    app.modules = await call("GET", "modules");
  } catch (e) {
    return;
  }
  showModules();
}

function showModules() {
  if (app.module) showModuleHead();
  else showOverview();
}

function statusBadge(module) {
  if (module.status < 0) return el("span", { class: "badge failed" }, fmt(T(W.failedStatus), module.status));
  if (module.paused) return el("span", { class: "badge paused" }, T(W.paused));
  return el("span", { class: "badge" + (module.status === 2 ? "" : " idle") },
    T(W.running) + " · " + T(module.status === 2 ? W.working : W.idle));
}

function pauseButtons(module) {
  if (!isOperator()) return null;
  return el("span", { class: "row-actions" },
    el("button", { class: "pause", disabled: module.paused, onclick: () => pauseModule(module, true) }, T(W.stop)),
    el("button", { class: "resume", disabled: !module.paused, onclick: () => pauseModule(module, false) }, T(W.start)));
}

async function pauseModule(module, pause) {
  try {
    const answer = await call("POST", "modules/" + module.module + (pause ? "/pause" : "/resume"));
    module.paused = answer.paused;
    showModules();
  } catch (e) {
    notice(e.message);
  }
}

function showOverview() {
  $("#crumb").textContent = T(W.modules);
  if (!app.modules.length) {
    $("#view").replaceChildren(el("p", { class: "empty" }, T(W.noModule)));
    return;
  }
  const cards = app.modules.map((m) =>
    el("section", { class: "module" + (m.status < 0 ? " failed" : m.paused ? " paused" : ""), "data-module": m.module },
      el("h2", {}, el("a", { href: "#/module/" + m.module }, m.description || fmt(T(W.moduleNumber), m.module))),
      el("span", { class: "number" }, fmt(T(W.moduleNumber), m.module)),
      el("div", {}, statusBadge(m)),
      el("div", { class: "counts" },
        el("span", { class: "count" }, el("b", {}, m.counts.inProcess), T(W.inProcess)),
        el("span", { class: "count held" }, el("b", {}, m.counts.held), T(W.held)),
        el("span", { class: "count" }, el("b", {}, m.counts.passed), T(W.passed))),
      pauseButtons(m)));
  $("#view").replaceChildren(el("div", { class: "modules" }, cards));
}

// ---- One module ----

function newList(name) {
  return {
    name,
    selected: new Set(),
    anchor: null,
    sort: { key: "id", down: name === "passed" },
    found: null,
    allowed: new Set(),
    shown: [],
    node: null,
  };
}

function openModule(number) {
  if (!app.module || app.module.number !== number) {
    app.module = { number, rows: new Map(), serial: null, loading: false, again: false,
      lists: { process: newList("process"), passed: newList("passed") } };
  }
  const view = $("#view");
  view.replaceChildren(el("div", { class: "head", id: "modulehead" }),
    panel(app.module.lists.process), panel(app.module.lists.passed));
  showModuleHead();
  loadJobs(true);
}

function showModuleHead() {
  const head = $("#modulehead");
  if (!head || !app.module) return;
  const module = app.modules.find((m) => m.module === app.module.number);
  $("#crumb").replaceChildren(el("a", { href: "#/" }, T(W.allModules)), " › ",
    module ? module.description || fmt(T(W.moduleNumber), module.module) : fmt(T(W.moduleNumber), app.module.number));
  if (!module) {
    head.replaceChildren(el("h1", {}, fmt(T(W.moduleNumber), app.module.number)), el("span", { class: "error" }, T(W.moduleGone)));
    return;
  }
  head.replaceChildren(...[el("h1", {}, module.description || fmt(T(W.moduleNumber), module.module)),
    statusBadge(module),
    el("span", {}, fmt(T(W.counts), module.counts.inProcess, module.counts.held, module.counts.passed)),
    pauseButtons(module),
    isOperator() ? null : el("span", { class: "hint" }, T(W.viewerNote))].filter(Boolean));
}

function panel(list) {
  const buttons = isOperator()
    ? listActions[list.name].map((action) =>
      el("button", { class: "action" + (action === "abort" || action === "del" ? " danger" : ""),
        "data-action": actionPath(action), disabled: true, onclick: () => act(list, action) }, T(actionText[action])))
    : [];
  const grid = el("div", { class: "grid" });
  const node = el("section", { class: "panel", id: "list-" + list.name },
    el("div", { class: "toolbar" },
      el("h2", {}, T(list.name === "process" ? W.processJobs : W.passedJobs)),
      el("span", { class: "count-text" }),
      el("span", { class: "grow" }),
      el("span", { class: "found-slot" }),
      buttons,
      el("button", { class: "select-all", onclick: () => selectAll(list) }, T(W.selectAll)),
      el("button", { class: "search", onclick: () => searchDialog(list.name) }, T(W.search))),
    grid);
  list.node = node;
  const header = el("div", { class: "cols header" }, el("span", {}),
    columns.map((column) => el("span", { class: column.cls, "data-key": column.key,
      onclick: () => sortBy(list, column.sortKey || column.key) }, column.text(list.name))));
  const rows = el("div", { class: "rows" });
  grid.append(header, rows);
  grid.addEventListener("scroll", () => drawRows(list));
  return node;
}

// Asks the gateway for the rows: all of them, or what changed after the serial the page has.
async function loadJobs(all) {
  const module = app.module;
  if (!module) return;
  if (module.loading) {
    module.again = true;
    module.againAll = module.againAll || all;
    return;
  }
  module.loading = true;
  try {
    // The gateway's copy answers at once; since=0 is every row.
    const since = "?since=" + (all || module.serial === null ? 0 : module.serial);
    const early = all && app.prefetch && app.prefetch.number === module.number ? await app.prefetch.answer : null;
    app.prefetch = null;
    const answer = early || await call("GET", "modules/" + module.number + "/jobs" + since);
    if (app.module !== module) return;
    if (answer.full !== false) module.rows.clear();
    for (const row of answer.jobs) module.rows.set(row.id, row);
    for (const id of answer.removed || []) module.rows.delete(id);
    module.serial = answer.serial;
    refreshLists(answer.full !== false ? null : new Set(answer.jobs.map((r) => r.id).concat(answer.removed || [])));
    // When the rows first showed and when a change last did, for the benchmark (bench/web).
    if (!module.shown) {
      module.shown = true;
      performance.mark("first-rows");
    }
    performance.clearMarks("rows-applied");
    performance.mark("rows-applied");
  } catch (e) {
    if (e.status === 404) showModuleHead();
    else if (e.status !== 401) notice(e.message);
  } finally {
    module.loading = false;
    if (module.again && app.module === module) {
      const againAll = module.againAll;
      module.again = false;
      module.againAll = false;
      loadJobs(againAll);
    }
  }
}

function refreshLists(changed) {
  for (const list of Object.values(app.module.lists)) {
    let selectionTouched = false;
    for (const id of [...list.selected]) {
      const row = app.module.rows.get(id);
      if (!row || row.list !== list.name) {
        list.selected.delete(id);
        selectionTouched = true;
      } else if (!changed || changed.has(id)) {
        selectionTouched = true;
      }
    }
    arrange(list);
    drawRows(list);
    if (selectionTouched) askAllowed(list);
  }
}

function compare(a, b, key) {
  const x = a[key];
  const y = b[key];
  if (typeof x === "number" && typeof y === "number") return x - y;
  return String(x === undefined ? "" : x).localeCompare(String(y === undefined ? "" : y), app.language, { numeric: true });
}

// The rows a list shows, in its order.
function arrange(list) {
  const rows = [];
  for (const row of app.module.rows.values()) {
    if (row.list === list.name && (!list.found || list.found.has(row.id))) rows.push(row);
  }
  const { key, down } = list.sort;
  rows.sort((a, b) => (compare(a, b, key) || a.id - b.id) * (down ? -1 : 1));
  list.shown = rows;
  const countText = $(".count-text", list.node);
  countText.textContent = list.selected.size ? fmt(T(W.selected), list.selected.size) : "";
  const slot = $(".found-slot", list.node);
  slot.replaceChildren(list.found
    ? el("span", { class: "found" }, fmt(T(W.found), rows.length),
      el("button", { onclick: () => { list.found = null; arrange(list); drawRows(list); } }, T(W.showAll)))
    : "");
  for (const span of list.node.querySelectorAll(".header > span[data-key]")) {
    const sorted = (span.dataset.key === "time" ? "created" : span.dataset.key) === key;
    span.classList.toggle("sorted", sorted);
    span.classList.toggle("down", sorted && down);
  }
}

function sortBy(list, key) {
  list.sort = { key, down: list.sort.key === key ? !list.sort.down : false };
  arrange(list);
  drawRows(list);
}

function cell(row, column) {
  switch (column.key) {
  case "state": {
    // A state word wider than its column (German "zurückgehalten") ends in an ellipsis; the
    // whole word is its tooltip.
    const text = T(states[row.state] || W.waiting);
    return el("span", { class: "state " + row.state, title: text }, text);
  }
  case "created":
    return row.created ? new Date(row.created).toLocaleDateString(app.language) : "";
  case "time":
    return row.created ? row.created.slice(11, 19) : "";
  case "size": {
    const moving = ["reading", "transferring", "spooling", "sending"].includes(row.state);
    if (moving && row.size > 0) {
      const part = Math.max(0, Math.min(100, Math.round((100 * (row.done || 0)) / row.size)));
      return el("span", { class: "size", title: part + "%" }, el("i", { style: "width:" + part + "%" }), el("em", {}, row.sizeText));
    }
    return row.sizeText;
  }
  default:
    return row[column.key];
  }
}

// Draws the rows in view only: a list of 100,000 rows costs what a screenful does.
function drawRows(list) {
  if (!list.node) return;
  const grid = $(".grid", list.node);
  const holder = $(".rows", list.node);
  const rowHeight = parseFloat(getComputedStyle(document.documentElement).getPropertyValue("--row")) || 44;
  holder.style.height = list.shown.length * rowHeight + "px";
  if (!list.shown.length) {
    holder.replaceChildren(el("div", { class: "empty" }, T(W.noJobs)));
    return;
  }
  const header = $(".header", list.node).offsetHeight;
  const first = Math.max(0, Math.floor((grid.scrollTop - header) / rowHeight) - 5);
  const last = Math.min(list.shown.length, first + Math.ceil(grid.clientHeight / rowHeight) + 12);
  const nodes = [];
  for (let i = first; i < last; ++i) {
    const row = list.shown[i];
    const selected = list.selected.has(row.id);
    const box = el("input", { type: "checkbox", checked: selected, tabindex: "-1", "aria-label": String(row.job) });
    nodes.push(el("div", {
      class: "cols job" + (selected ? " selected" : ""), "data-id": row.id, "data-state": row.state,
      style: "top:" + i * rowHeight + "px",
      onclick: (event) => choose(list, row.id, i, event),
    }, el("span", {}, box), columns.map((column) => el("span", { class: column.cls }, cell(row, column)))));
  }
  holder.replaceChildren(...nodes);
}

// A click selects the row; Ctrl (or the check box) adds or takes it; Shift takes the range.
function choose(list, id, index, event) {
  const toggle = event.ctrlKey || event.metaKey || event.target.tagName === "INPUT";
  if (event.shiftKey && list.anchor !== null) {
    const from = list.shown.findIndex((r) => r.id === list.anchor);
    if (!toggle) list.selected.clear();
    for (let i = Math.min(from, index); i <= Math.max(from, index); ++i) list.selected.add(list.shown[i].id);
  } else if (toggle) {
    if (list.selected.has(id)) list.selected.delete(id);
    else list.selected.add(id);
    list.anchor = id;
  } else {
    list.selected = new Set([id]);
    list.anchor = id;
  }
  arrange(list);
  drawRows(list);
  askAllowed(list);
}

function selectAll(list) {
  list.selected = new Set(list.shown.map((r) => r.id));
  arrange(list);
  drawRows(list);
  askAllowed(list);
}

// The module says which actions the selection allows; the buttons follow its answer.
async function askAllowed(list) {
  if (!isOperator() || !list.node) return;
  const ids = [...list.selected];
  const asked = (list.asked = (list.asked || 0) + 1);
  let allowed = [];
  if (ids.length) {
    try {
      allowed = (await call("POST", "modules/" + app.module.number + "/allowed", { ids })).actions;
    } catch (e) {
      allowed = [];
    }
  }
  if (asked !== list.asked) return;
  list.allowed = new Set(allowed);
  for (const button of list.node.querySelectorAll("button.action"))
    button.disabled = !list.allowed.has(button.dataset.action);
}

// "poster 22, 23, 24; proof 25", at most 12 job numbers, for the confirmations.
function namedJobs(rows) {
  const byName = new Map();
  for (const row of rows) {
    if (!byName.has(row.name)) byName.set(row.name, []);
    byName.get(row.name).push(row.job);
  }
  const parts = [];
  let shown = 0;
  for (const [name, jobs] of byName) {
    if (shown >= 12) break;
    const take = jobs.slice(0, 12 - shown);
    shown += take.length;
    parts.push((name ? name + " " : "") + take.join(", "));
  }
  const text = parts.join("; ");
  return shown < rows.length ? text + " " + fmt(T(W.more), rows.length - shown) : text;
}

function dialog(title, body, okText, onOk) {
  const box = $("#dialog");
  const error = el("p", { class: "error", role: "alert" });
  const form = el("form", { method: "dialog" },
    el("h2", {}, title), body, error,
    el("div", { class: "buttons" },
      el("button", { type: "button", class: "cancel", onclick: () => box.close() }, T(W.cancel)),
      el("button", { type: "submit", class: "primary ok" }, okText || T(W.ok))));
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    error.textContent = "";
    try {
      if ((await onOk()) !== false) box.close();
    } catch (e) {
      error.textContent = e.message;
    }
  });
  box.replaceChildren(form);
  box.showModal();
  const first = form.querySelector("input:not([type=hidden]):not(:disabled), select");
  if (first) first.focus();
}

async function act(list, action) {
  const rows = [...list.selected].map((id) => app.module.rows.get(id)).filter(Boolean);
  if (!rows.length) return;
  const ids = rows.map((r) => r.id);
  const names = namedJobs(rows);
  const send = async (extra = {}) => {
    const answer = await call("POST", "modules/" + app.module.number + "/jobs/" + actionPath(action), { ids, ...extra });
    const done = new Set(answer.done);
    const refused = rows.filter((r) => !done.has(r.id));
    const text = fmt(T(W.done), T(actionText[action]), done.size, ids.length);
    notice(refused.length ? text + ". " + fmt(T(W.notDone), namedJobs(refused)) : text, !refused.length);
    list.selected.clear();
    refreshLists(null);
  };
  switch (action) {
  case "abort":
  case "del":
    dialog(T(actionText[action]), el("p", { class: "confirm" }, fmt(T(action === "abort" ? W.confirmAbort : W.confirmDelete), rows.length, names)),
      T(actionText[action]), () => send());
    return;
  case "priority": {
    const input = el("input", { type: "number", name: "priority", min: "0", max: "10", step: "1", required: true, value: rows[0].priority });
    dialog(T(W.priorityCaption), [el("p", {}, fmt(T(W.priorityJobs), rows.length, names)),
      el("label", {}, T(W.priorityLabel), input), el("p", { class: "hint" }, T(W.priorityRange))],
    T(W.ok), () => send({ priority: Number(input.value) }));
    return;
  }
  case "rename": {
    const input = el("input", { type: "text", name: "name", required: true, value: rows[0].name, size: "30" });
    dialog(T(actionText[action]), [el("p", {}, fmt(T(W.renameJobs), rows.length, names)), input], T(W.ok),
      () => send({ name: input.value }));
    return;
  }
  case "copy": {
    const input = el("input", { type: "text", name: "folder", required: true, size: "34", placeholder: "/srv/kept" });
    dialog(T(actionText[action]), [el("p", {}, fmt(T(W.copyJobs), rows.length, names)), input,
      el("p", { class: "hint" }, T(W.folderHint))], T(W.ok), () => send({ folder: input.value }));
    return;
  }
  case "redirect": {
    let choices = [];
    try {
      choices = (await call("POST", "modules/" + app.module.number + "/devices", { ids })).devices;
    } catch (e) {
      notice(e.message);
      return;
    }
    const boxes = choices.map((choice) => el("label", { class: choice.enabled ? "" : "off" },
      el("input", { type: "checkbox", name: "device", value: choice.terminator, disabled: !choice.enabled }),
      choice.name + " (" + choice.terminator + ")"));
    dialog(T(W.devicesCaption), [el("p", {}, fmt(T(W.redirectJobs), rows.length, names)),
      el("div", { class: "devices" }, boxes), el("p", { class: "hint" }, T(W.ownDevices))], T(W.ok),
    () => send({ devices: [...$("#dialog").querySelectorAll("input[name=device]:checked")].map((b) => Number(b.value)) }));
    return;
  }
  default:
    try {
      await send();
    } catch (e) {
      notice(e.message);
    }
  }
}

// The console's search dialog: FindJobs' criteria; the list then shows the rows found.
function searchDialog(listName) {
  const [, processText, passedText] = (T(W.jobStatus).match(/'([^']*)','([^']*)'/) || [null, T(W.processJobs), T(W.passedJobs)]);
  const [equalText, containText] = T(W.textMatch).split(",");
  const radio = (value, text) => el("label", {}, el("input", { type: "radio", name: "list", value, checked: value === listName }), text);
  const field = (name, type = "text") => el("input", { type, name, size: "16" });
  const match = (name) => el("select", { name: name + "Match" }, el("option", { value: "contain" }, containText || "consist"), el("option", { value: "equal" }, equalText || "="));
  const op = (name) => el("select", { name: name + "Op" }, ["=", ">", "<", ">=", "<="].map((o) => el("option", { value: o }, o)));
  const grid = el("div", { class: "search-grid" },
    el("span", {}, T(W.jobIdLabel)), el("span"), field("job"),
    el("span", {}, T(W.docIdLabel)), el("span"), field("doc"),
    el("span", {}, T(W.nameLabel)), match("name"), field("name"),
    el("span", {}, T(W.pageLabel)), el("span"), field("page"),
    el("span", {}, T(W.colorLabel)), match("color"), field("color"),
    el("span", {}, T(W.dateLabel)), op("date"), field("date", "date"),
    el("span", {}, T(W.typeLabel)), el("span"), field("type"),
    el("span", {}, T(W.sizeLabel)), op("sizeKb"), el("span", {}, el("input", { type: "number", name: "sizeKb", min: "0", step: "any" }), " " + T(W.sizeUnit)),
    el("span", {}, T(W.destLabel)), match("destination"), field("destination"));
  dialog(T(W.searchCaption), [el("div", { class: "row-actions" }, radio("process", processText), radio("passed", passedText)), grid], T(W.find), async () => {
    const form = $("#dialog form");
    const value = (name) => form.elements[name].value.trim();
    const list = form.querySelector("input[name=list]:checked").value;
    const query = new URLSearchParams({ list });
    for (const name of ["job", "doc", "page", "type"]) if (value(name)) query.set(name, value(name));
    for (const name of ["name", "color", "destination"]) {
      if (value(name)) query.set(name, (value(name + "Match") === "equal" ? "=" : "") + value(name));
    }
    if (value("date")) query.set("date", value("dateOp") + " " + value("date"));
    if (value("sizeKb")) query.set("sizeKb", value("sizeKbOp") + " " + value("sizeKb"));
    const answer = await call("GET", "modules/" + app.module.number + "/jobs?" + query.toString());
    const target = app.module.lists[list];
    for (const row of answer.jobs) if (!app.module.rows.has(row.id)) app.module.rows.set(row.id, row);
    target.found = new Set(answer.jobs.map((r) => r.id));
    target.selected = new Set([...target.selected].filter((id) => target.found.has(id)));
    arrange(target);
    drawRows(target);
    askAllowed(target);
    return true;
  });
}

// A browser keeps a page it left for a while (the back-forward cache), and holds only six
// connections to a host: the page left gives its event stream back, and takes it again (and
// everything afresh) when it is shown again.
window.addEventListener("pagehide", closeEvents);
window.addEventListener("pageshow", (event) => {
  if (event.persisted && app.session) {
    openEvents();
    loadModules();
    if (app.module) loadJobs(true);
  }
});

window.addEventListener("resize", () => {
  if (app.module) for (const list of Object.values(app.module.lists)) drawRows(list);
});
document.addEventListener("DOMContentLoaded", start);
