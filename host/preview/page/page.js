// The settings window of the plug-in that kelo-host runs, drawn from its
// descriptor, and the frame it makes of them. One picture request at a time:
// while one is out, later moves only mark the picture stale, and the next
// request carries whatever the controls say by then.
"use strict";

const token = new URLSearchParams(location.search).get("token") || "";
const api = (path, query = {}) => path + "?" + new URLSearchParams({ token, ...query });

let state = null;            // the server's last word on the settings
let frame = 0;
const changed = new Map();   // NAME -> VALUE not yet sent to the server
let busy = false, stale = false;
let firstUnshownChange = null;
let beforeFrame = -1;

// For the page's own measurements and for tests driving it.
window.kelo = { latencies: [], serverTimes: [], picturesShown: 0, lastPicture: null, idle: () => !busy && !stale && changed.size === 0 };

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
    const set = (value) => {
      value = Math.min(track.max, Math.max(track.min, Math.round(Number(value) || 0)));
      slider.value = number.value = value;
      row.classList.toggle("changed", value !== track.default);
      settingChanged(track.name, value);
    };
    slider.addEventListener("input", () => set(slider.value));
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

function settingChanged(name, value) {
  changed.set(name, value);
  firstUnshownChange ??= performance.now();
  refresh();
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
    const response = await fetch(api("api/picture", { frame, view: "after" }), { method: "POST", body });
    if (response.status === 503) {
      stale = true;  // another tab's newer request took the slot
    } else if (!response.ok) {
      throw new Error((await response.text()).trim());
    } else {
      const serverTiming = Object.fromEntries((response.headers.get("Server-Timing") || "").split(",")
        .map((entry) => entry.trim().split(";dur=")).filter((pair) => pair.length === 2));
      const blob = await response.blob();
      await showPicture($("after"), blob);
      await new Promise(requestAnimationFrame);
      window.kelo.lastPicture = blob;
      window.kelo.picturesShown++;
      window.kelo.serverTimes.push([Number(serverTiming.filter), Number(serverTiming.encode)]);
      if (covers !== null) {
        const ms = performance.now() - covers;
        window.kelo.latencies.push(ms);
        showStatus(`${state.width} × ${state.height} · frame ${frame} · ${Math.round(ms)} ms ` +
                   `(FilterProc ${Math.round(serverTiming.filter)}, PNG ${Math.round(serverTiming.encode)})`);
      } else {
        showStatus(`${state.width} × ${state.height} · frame ${frame}`);
      }
      const shownVersion = Number(response.headers.get("X-Kelo-Version"));
      if (shownVersion !== state.version) await followServer(shownVersion);
      if (beforeFrame !== frame && currentView() !== "after") await refreshBefore();
    }
  } catch (error) {
    showStatus(error.message, true);
  } finally {
    busy = false;
    if (stale || changed.size) refresh();
  }
}

async function refreshBefore() {
  const response = await fetch(api("api/picture", { frame, view: "before" }));
  if (response.ok) {
    await showPicture($("before"), await response.blob());
    beforeFrame = frame;
  }
}

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
  let dragging = false;
  pictures.addEventListener("pointerdown", (event) => {
    if (currentView() !== "split") return;
    dragging = true;
    pictures.setPointerCapture(event.pointerId);
    split(event);
  });
  pictures.addEventListener("pointermove", (event) => dragging && split(event));
  pictures.addEventListener("pointerup", () => { dragging = false; });
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
  showSettings();
  wireViewer();
  refresh();
  setTimeout(followOtherTabs, 1500);
}

start();
