// The shop's page: every bench's jobs, read with a bench's or a viewer's
// token, which stays in this tab only. Every text from a record is set as
// text, never as markup.
"use strict";

let records = [];

function token() { return sessionStorage.getItem("torvela-token") || ""; }

async function ask(path) {
  const reply = await fetch(path, { headers: { Authorization: "Bearer " + token() } });
  if (!reply.ok) {
    let why = reply.status + "";
    try { why = (await reply.json()).error || why; } catch (e) { /* no JSON */ }
    throw new Error(why);
  }
  return reply;
}

function cell(row, text, cls) {
  const td = document.createElement("td");
  td.textContent = text || "";
  if (cls) td.className = cls;
  row.appendChild(td);
  return td;
}

function baseName(path) {
  const parts = (path || "").split(/[\\/]/);
  return parts[parts.length - 1] || "unit.dat";
}

async function download(record, button) {
  button.disabled = true;
  try {
    const bytes = await (await ask("/api/units/" + record.kept_sha256)).blob();
    const a = document.createElement("a");
    a.href = URL.createObjectURL(bytes);
    a.download = baseName(record.kept);
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  } catch (e) {
    button.title = "not downloaded: " + e.message;
  } finally {
    button.disabled = false;
  }
}

function fillChoices(select, values) {
  const chosen = select.value;
  while (select.options.length > 1) select.remove(1);
  for (const v of [...new Set(values)].sort()) {
    const o = document.createElement("option");
    o.value = v;
    o.textContent = v;
    select.appendChild(o);
  }
  select.value = chosen;
}

function show() {
  const bench = document.getElementById("bench").value;
  const unit = document.getElementById("unit").value.trim().toLowerCase();
  const outcome = document.getElementById("outcome").value;
  const rows = document.getElementById("rows");
  rows.replaceChildren();
  let shown = 0;
  for (const r of records) {
    if (bench && r.bench !== bench) continue;
    if (outcome && r.outcome !== outcome) continue;
    if (unit && !(r.unit_sha256 || "").startsWith(unit)) continue;
    ++shown;
    const row = document.createElement("tr");
    row.dataset.id = r.id;
    if (r.outcome !== "success") row.className = "failed";
    cell(row, r.bench);
    cell(row, r.time);
    cell(row, r.operation);
    cell(row, r.file, "file");
    cell(row, (r.unit_sha256 || "").slice(0, 16), "unit").title = r.unit_sha256 || "";
    cell(row, r.outcome, "outcome");
    cell(row, [r.status, r.detail].filter(Boolean).join(": "));
    const kept = cell(row, "");
    if (r.kept_sha256 && r.unit_held === "yes") {
      const b = document.createElement("button");
      b.type = "button";
      b.className = "download";
      b.textContent = "Download " + baseName(r.kept);
      b.addEventListener("click", () => download(r, b));
      kept.appendChild(b);
    } else if (r.kept_sha256) {
      kept.textContent = "not at the shop yet";
    }
    rows.appendChild(row);
  }
  document.getElementById("count").textContent = shown + " of " + records.length + " jobs";
}

async function load() {
  const text = await (await ask("/api/records")).text();
  records = text.split("\n").filter(Boolean).map((line) => JSON.parse(line)).reverse();
  fillChoices(document.getElementById("bench"), records.map((r) => r.bench));
  fillChoices(document.getElementById("outcome"), records.map((r) => r.outcome));
  show();
}

async function signIn() {
  const note = document.getElementById("signin-note");
  note.textContent = "";
  try {
    const me = await (await ask("/api/whoami")).json();
    document.getElementById("who").textContent = (me.viewer ? "viewer " : "bench ") + me.name;
    document.getElementById("signin").hidden = true;
    document.getElementById("jobs").hidden = false;
    await load();
  } catch (e) {
    sessionStorage.removeItem("torvela-token");
    note.textContent = "not signed in: " + e.message;
  }
}

document.addEventListener("DOMContentLoaded", () => {
  document.getElementById("signin").addEventListener("submit", (ev) => {
    ev.preventDefault();
    sessionStorage.setItem("torvela-token", document.getElementById("token").value.trim());
    signIn();
  });
  for (const id of ["bench", "outcome"]) document.getElementById(id).addEventListener("change", show);
  document.getElementById("unit").addEventListener("input", show);
  document.getElementById("reload").addEventListener("click", () => load().catch((e) => {
    document.getElementById("count").textContent = "not reloaded: " + e.message;
  }));
  document.getElementById("signout").addEventListener("click", () => {
    sessionStorage.removeItem("torvela-token");
    location.reload();
  });
  if (token()) signIn();
});
