// The settings window of the plug-in that kelo-host runs, drawn from its
// descriptor, and the frame it makes of them. One picture request at a time:
// while one is out, later moves only mark the picture stale, and the next
// request carries whatever the controls say by then. While a slider is
// dragged the pictures come at the size they are shown (at most 960 across);
// once it stops, the full-size picture, the exact output, follows.
"use strict";

const token = new URLSearchParams(location.search).get("token") || "";
const api = (path, query = {}) => path + "?" + new URLSearchParams({ token, ...query });

let state = null;            // the server's last word on the settings
let frame = 0;
const changed = new Map();   // NAME -> VALUE not yet sent to the server
let busy = false, stale = false;
let firstUnshownChange = null;
let beforeFrame = -1;
let dragging = false;        // the last change came from a slider being dragged
let fullOwed = false;        // the full picture is owed: a reduced one is on screen, or was passed over
let lastDragMove = null;     // when a slider last moved
let settleTimer = null;
const kSettleMs = 100;       // a slider held this long after its picture has stopped
const kReducedMaxWidth = 960;
// The server's numbers of the pictures on screen, for the scopes and the probe.
const shown = { after: 0, before: 0, afterSize: "" };

// For the page's own measurements and for tests driving it. latencies: a
// change to its full-size picture; dragLatencies: a slider's move to its
// reduced picture; fullLatencies: a slider's last move to the full picture.
window.kelo = {
  latencies: [], dragLatencies: [], fullLatencies: [], serverTimes: [], scopeTimes: [], pictures: [],
  picturesShown: 0, scopesShown: 0, lastPicture: null, lastScopes: { after: null, before: null },
  idle: () => !busy && !stale && changed.size === 0 && !fullOwed && !scopes.busy,
};

const $ = (id) => document.getElementById(id);

function showStatus(text, isError = false) {
  $("status").textContent = text;
  $("status").classList.toggle("error", isError);
}

async function fetchChecked(url, options) {
  const response = await fetch(url, options);
  if (!response.ok) {
    const error = new Error((await response.text()).trim() || response.statusText);
    error.status = response.status;
    throw error;
  }
  return response;
}

function buildControls() {
  $("filter-name").textContent = state.name;
  $("filter-information").textContent = state.information;
  document.title = state.name + " — kelo-host preview";
  const tracks = $("tracks");
  tracks.replaceChildren();
  state.tracks.forEach((track, i) => {
    const row = document.createElement("div");
    row.className = "control";
    row.dataset.index = i;
    const label = document.createElement("label");
    const name = document.createElement("span");
    name.className = "name";
    name.textContent = track.name;
    const range = document.createElement("span");
    range.className = "range";
    range.textContent = `${track.min} … ${track.max}, default ${track.default}`;
    label.append(name, range);
    label.title = "Double-click for the default";
    const slider = document.createElement("input");
    slider.type = "range";
    slider.id = "track-" + i;
    label.htmlFor = slider.id;
    const number = document.createElement("input");
    number.type = "number";
    number.setAttribute("aria-label", track.name);
    for (const input of [slider, number]) {
      input.min = track.min;
      input.max = track.max;
      input.step = 1;
      input.dataset.name = track.name;
    }
    const set = (value, drag = false) => {
      value = Math.min(track.max, Math.max(track.min, Math.round(Number(value) || 0)));
      slider.value = number.value = value;
      row.classList.toggle("changed", value !== track.default);
      settingChanged(track.name, value, drag);
    };
    slider.addEventListener("input", () => set(slider.value, true));
    // Let go: the full picture at once.
    slider.addEventListener("change", () => settled());
    number.addEventListener("change", () => set(number.value));
    label.addEventListener("dblclick", () => set(track.default));
    row.append(label, slider, number);
    tracks.append(row);
  });
  const checks = $("checks");
  checks.replaceChildren();
  state.checks.forEach((check, i) => {
    const label = document.createElement("label");
    label.className = "check";
    const box = document.createElement("input");
    box.type = "checkbox";
    box.id = "check-" + i;
    box.dataset.name = check.name;
    box.addEventListener("change", () => settingChanged(check.name, box.checked ? 1 : 0));
    label.append(box, document.createTextNode(check.name));
    checks.append(label);
  });
  if (state.frames > 1) {
    $("frame-section").hidden = false;
    $("frame-count").textContent = `of ${state.frames} (0 … ${state.frames - 1})`;
    for (const input of [$("frame-range"), $("frame-number")]) input.max = state.frames - 1;
  }
}

// Shows the server's settings; the controls only while the user is not in
// the middle of changing them.
function showSettings() {
  if (changed.size === 0) {
    state.tracks.forEach((track, i) => {
      const value = state.track[i];
      $("track-" + i).value = value;
      $("track-" + i).nextElementSibling.value = value;
      $("track-" + i).parentElement.classList.toggle("changed", value !== track.default);
    });
    state.checks.forEach((_, i) => { $("check-" + i).checked = state.check[i] === 1; });
  }
  $("command").textContent = state.command;
  $("save-picture").href = api("api/picture", { frame, view: "after", download: 1 });
  $("save-settings").href = api("api/settings.txt");
}

// The command line and the controls after a change, once its picture is on
// screen; another tab's change since then asks for a newer picture.
async function followServer(shownVersion) {
  try {
    state = await (await fetchChecked(api("api/state"))).json();
    showSettings();
    if (state.version !== shownVersion) stale = true;
  } catch (error) {
    showStatus(error.message, true);
  }
}

function settingChanged(name, value, drag = false) {
  changed.set(name, value);
  firstUnshownChange ??= performance.now();
  dragging = drag && reducedWidth() > 0;
  if (drag) lastDragMove = performance.now();
  clearTimeout(settleTimer);
  refresh();
}

// The width of the picture on screen in device pixels, when that is less
// than the frame's: 0 otherwise.
function reducedWidth() {
  const width = Math.min(kReducedMaxWidth, Math.round($("after").getBoundingClientRect().width * devicePixelRatio));
  return width > 0 && width < state.width ? width : 0;
}

function settled() {
  clearTimeout(settleTimer);
  dragging = false;
  if (fullOwed && !busy) refresh();
}

async function showPicture(img, blob) {
  const url = URL.createObjectURL(blob);
  const old = img.src;
  img.src = url;
  await img.decode();
  if (old.startsWith("blob:")) URL.revokeObjectURL(old);
}

// Sends what changed, then asks for the picture; at most one at a time.
async function refresh() {
  if (busy) {
    stale = true;
    return;
  }
  busy = true;
  stale = false;
  const covers = firstUnshownChange;
  firstUnshownChange = null;
  try {
    // The changes go with the request for the picture that shows them.
    const body = [...changed].map(([name, value]) => `${name}=${value}\n`).join("");
    changed.clear();
    const width = dragging ? reducedWidth() : 0;
    const query = width ? { frame, view: "after", width } : { frame, view: "after" };
    const response = await fetch(api("api/picture", query), { method: "POST", body });
    if (response.status === 503) {
      stale = true;  // another tab's newer request took the slot
    } else if (!response.ok) {
      throw new Error((await response.text()).trim());
    } else {
      const serverTiming = Object.fromEntries((response.headers.get("Server-Timing") || "").split(",")
        .map((entry) => entry.trim().split(";dur=")).filter((pair) => pair.length === 2));
      const blob = await response.blob();
      if (width > 0 && !dragging && !stale && changed.size === 0) {
        // Let go while this reduced picture was made: the full picture is
        // asked for at once, and this one is neither shown nor scoped.
        firstUnshownChange ??= covers;
        fullOwed = true;
        return;
      }
      await showPicture($("after"), blob);
      await new Promise(requestAnimationFrame);
      const now = performance.now();
      const reduced = width > 0;
      const size = response.headers.get("X-Kelo-Size") || "";
      window.kelo.lastPicture = blob;
      window.kelo.picturesShown++;
      window.kelo.pictures.push(size);
      window.kelo.serverTimes.push([Number(serverTiming.filter), Number(serverTiming.encode), size]);
      if (!reduced && fullOwed && lastDragMove !== null) window.kelo.fullLatencies.push(now - lastDragMove);
      fullOwed = reduced;
      shown.after = Number(response.headers.get("X-Kelo-Picture"));
      shown.afterSize = size;
      const drawn = size.replace("x", " × ") + (reduced ? " (while dragging)" : "");
      if (covers !== null) {
        const ms = now - covers;
        (reduced ? window.kelo.dragLatencies : window.kelo.latencies).push(ms);
        showStatus(`${drawn} · frame ${frame} · ${Math.round(ms)} ms ` +
                   `(FilterProc ${Math.round(serverTiming.filter)}, PNG ${Math.round(serverTiming.encode)})`);
      } else {
        showStatus(`${drawn} · frame ${frame}`);
      }
      scopes.want("after", shown.after);
      probe.refresh();
      const shownVersion = Number(response.headers.get("X-Kelo-Version"));
      if (shownVersion !== state.version) await followServer(shownVersion);
      // The probe reads the picture before the filter too, whatever the view.
      if (beforeFrame !== frame) await refreshBefore();
    }
  } catch (error) {
    showStatus(error.message, true);
  } finally {
    busy = false;
    if (stale || changed.size) {
      refresh();
    } else if (fullOwed && !dragging) {
      refresh();
    } else if (fullOwed) {
      // The full picture follows once the slider is let go, or has not
      // moved since the last picture for a moment.
      settleTimer = setTimeout(() => { dragging = false; refresh(); }, kSettleMs);
    }
  }
}

async function refreshBefore() {
  const response = await fetch(api("api/picture", { frame, view: "before" }));
  if (response.ok) {
    await showPicture($("before"), await response.blob());
    beforeFrame = frame;
    shown.before = Number(response.headers.get("X-Kelo-Picture"));
    scopes.want("before", shown.before);
    probe.refresh();
  }
}

// The scopes of the pictures shown, one row of four panels for each, from
// the server's YC frames. At most one request out; a row asked for again
// meanwhile is fetched once, for its newest picture.
const scopes = {
  busy: false,
  wanted: new Map(),   // row -> picture number
  images: new Map(),   // row -> { bitmap, panels }
  want(row, picture) {
    if (!picture) return;
    this.wanted.set(row, picture);
    if (!this.busy) this.next();
  },
  async next() {
    const [row, picture] = this.wanted.entries().next().value || [];
    if (!row) return;
    this.wanted.delete(row);
    this.busy = true;
    try {
      const started = performance.now();
      const response = await fetch(api("api/scopes", { picture, view: row }));
      if (response.ok) {
        const blob = await response.blob();
        const panels = (response.headers.get("X-Kelo-Scope-Panels") || "").split(",")
          .map((entry) => entry.trim().split(" ").map(Number));
        const timing = Object.fromEntries((response.headers.get("Server-Timing") || "").split(",")
          .map((entry) => entry.trim().split(";dur=")).filter((pair) => pair.length === 2));
        this.images.set(row, { bitmap: await createImageBitmap(blob), panels });
        this.draw(row);
        window.kelo.lastScopes[row] = blob;
        window.kelo.scopesShown++;
        window.kelo.scopeTimes.push([Number(timing.count), Number(timing.draw), Number(timing.encode),
                                     performance.now() - started, response.headers.get("X-Kelo-Size")]);
      }
    } catch (error) {
      showStatus(error.message, true);
    } finally {
      this.busy = false;
      if (this.wanted.size) this.next();
    }
  },
  // Each panel on its own canvas, at the size the row is shown.
  draw(row) {
    const image = this.images.get(row);
    const container = $("scopes-" + row);
    if (!image || container.hidden) return;
    if (container.children.length !== image.panels.length) {
      container.replaceChildren(...image.panels.map(() => document.createElement("canvas")));
      container.style.gridTemplateColumns = image.panels.map(([, width]) => width + "fr").join(" ");
    }
    image.panels.forEach(([x, width], i) => {
      const canvas = container.children[i];
      const cssWidth = canvas.getBoundingClientRect().width || width;
      canvas.width = Math.max(1, Math.round(cssWidth * devicePixelRatio));
      canvas.height = Math.max(1, Math.round(canvas.width * image.bitmap.height / width));
      const context = canvas.getContext("2d");
      context.imageSmoothingQuality = "high";
      context.drawImage(image.bitmap, x, 0, width, image.bitmap.height, 0, 0, canvas.width, canvas.height);
    });
    layoutScopes();
  },
  showRows() {
    const view = currentView();
    $("scopes-before").hidden = view === "after";
    $("scopes-after").hidden = view === "before";
    this.draw("before");
    this.draw("after");
    layoutScopes();
  },
};

// The picture keeps what room the scopes leave.
function layoutScopes() {
  document.documentElement.style.setProperty("--scopes-height", $("scopes").getBoundingClientRect().height + "px");
}

// The values of one pixel before and after, from the server's frames: the
// pointer's while it moves over the picture, or the one clicked.
const probe = {
  at: null, held: false, busy: false, again: false,
  point(event) {
    const box = $("after").getBoundingClientRect();
    if (!state || box.width === 0) return;
    const x = Math.floor((event.clientX - box.left) / box.width * state.width);
    const y = Math.floor((event.clientY - box.top) / box.height * state.height);
    if (x < 0 || y < 0 || x >= state.width || y >= state.height) return;
    this.at = { x, y };
    this.refresh();
  },
  async refresh() {
    if (!this.at || !shown.after) return;
    if (this.busy) {
      this.again = true;
      return;
    }
    this.busy = true;
    try {
      const query = { x: this.at.x, y: this.at.y, after: shown.after };
      if (shown.before) query.before = shown.before;
      const response = await fetch(api("api/probe", query));
      if (response.ok) this.show(await response.json());
      else $("probe").textContent = (await response.text()).trim();
    } catch (error) {
      $("probe").textContent = error.message;
    } finally {
      this.busy = false;
      if (this.again) {
        this.again = false;
        this.refresh();
      }
    }
  },
  show(values) {
    const side = (name, v) => {
      if (!v) return "";
      const size = v.width !== state.width ? ` <span>(of ${v.width} × ${v.height})</span>` : "";
      return ` · ${name}: Y <b>${v.Y}</b> Cb <b>${v.Cb}</b> Cr <b>${v.Cr}</b>` +
             ` R′G′B′ <b>${v.rgb.join(" ")}</b> <span>(${v.bits}-bit)</span>${size}`;
    };
    const text = `x <b>${values.x}</b> y <b>${values.y}</b>` + side("before", values.before) + side("after", values.after);
    $("probe").innerHTML = text;
    $("probe").classList.toggle("held", this.held);
    window.kelo.lastProbe = values;
  },
};

const currentView = () => document.querySelector("input[name=view]:checked").value;

function setFrame(value) {
  frame = Math.min(state.frames - 1, Math.max(0, Math.round(Number(value) || 0)));
  $("frame-range").value = $("frame-number").value = frame;
  $("save-picture").href = api("api/picture", { frame, view: "after", download: 1 });
  firstUnshownChange ??= performance.now();
  refresh();
}

function wireViewer() {
  for (const radio of document.querySelectorAll("input[name=view]")) {
    radio.addEventListener("change", async () => {
      $("pictures").className = "view-" + currentView();
      scopes.showRows();
      if (currentView() !== "after" && beforeFrame !== frame) await refreshBefore();
    });
  }
  for (const radio of document.querySelectorAll("input[name=zoom]")) {
    radio.addEventListener("change", () => $("stage").classList.toggle("fit", radio.value === "fit" && radio.checked));
  }
  const pictures = $("pictures");
  const split = (event) => {
    const box = pictures.getBoundingClientRect();
    const share = Math.min(1, Math.max(0, (event.clientX - box.left) / box.width));
    pictures.style.setProperty("--split", (share * 100).toFixed(2) + "%");
  };
  let splitting = false;
  pictures.addEventListener("pointerdown", (event) => {
    if (currentView() !== "split") return;
    splitting = true;
    pictures.setPointerCapture(event.pointerId);
    split(event);
  });
  pictures.addEventListener("pointermove", (event) => {
    if (splitting) split(event);
    else if (!probe.held) probe.point(event);
  });
  pictures.addEventListener("pointerup", () => { splitting = false; });
  pictures.addEventListener("click", (event) => {
    if (currentView() === "split") return;
    probe.held = !probe.held;
    probe.point(event);
  });
  $("show-scopes").addEventListener("change", () => {
    $("scopes").classList.toggle("off", !$("show-scopes").checked);
    scopes.showRows();
  });
  // Redrawn at the width they are given; their height follows from it.
  let scopesWidth = 0;
  new ResizeObserver(([entry]) => {
    if (Math.round(entry.contentRect.width) === scopesWidth) return;
    scopesWidth = Math.round(entry.contentRect.width);
    scopes.draw("before");
    scopes.draw("after");
  }).observe($("scopes"));
  $("frame-range").addEventListener("input", () => setFrame($("frame-range").value));
  $("frame-number").addEventListener("change", () => setFrame($("frame-number").value));
  $("copy-command").addEventListener("click", async () => {
    try {
      await navigator.clipboard.writeText(state.command);
      showStatus("Command copied");
    } catch {
      getSelection().selectAllChildren($("command"));
      showStatus("Selected: press Ctrl+C to copy");
    }
  });
  $("reset").addEventListener("click", () => {
    state.tracks.forEach((track) => settingChanged(track.name, track.default));
    state.checks.forEach((check) => settingChanged(check.name, check.default));
  });
}

// Other tabs share the server's settings; this tab follows their changes.
async function followOtherTabs() {
  try {
    if (!busy && changed.size === 0) {
      const latest = await (await fetchChecked(api("api/state"))).json();
      if (latest.version !== state.version && !busy && changed.size === 0) {
        state = latest;
        showSettings();
        refresh();
      }
    }
  } catch (error) {
    showStatus(error.message, true);
  }
  setTimeout(followOtherTabs, 1500);
}

async function start() {
  try {
    state = await (await fetchChecked(api("api/state"))).json();
  } catch (error) {
    showStatus(error.message, true);
    return;
  }
  buildControls();
  // The reduced pictures of a drag are shown in the full picture's place.
  $("after").width = state.width;
  $("after").height = state.height;
  showSettings();
  wireViewer();
  refresh();
  setTimeout(followOtherTabs, 1500);
}

start();
