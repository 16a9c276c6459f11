// The page: sign in (create + login), the provider list, a provider read
// into a table shown page by page, the day report and the statement box.
"use strict";

const PAGE_ROWS = 50;
const $ = (id) => document.getElementById(id);
let rpc = null;
let packet = null;  // the packet shown in the data table
let page = 0;

function showError(e) { $("error").textContent = e ? (e.message || String(e)) : ""; }

function cellText(v) {
  if (v === null || v === undefined) return "";
  if (Array.isArray(v)) return "[" + v.length + " 行]";  // a nested detail table
  if (typeof v === "object") {
    const k = Object.keys(v)[0];
    return k && k.startsWith("$") ? String(v[k]) : JSON.stringify(v);
  }
  return String(v);
}

function fillTable(table, fields, rows) {
  table.textContent = "";
  const head = table.insertRow();
  for (const f of fields) {
    const th = document.createElement("th");
    th.textContent = f.name;
    head.appendChild(th);
  }
  for (const r of rows) {
    const tr = table.insertRow();
    for (const v of r) tr.insertCell().textContent = cellText(v);
  }
}

function showPage() {
  const rows = packet.rows;
  const pages = Math.max(1, Math.ceil(rows.length / PAGE_ROWS));
  page = Math.min(Math.max(page, 0), pages - 1);
  fillTable($("dataTable"), packet.fields, rows.slice(page * PAGE_ROWS, (page + 1) * PAGE_ROWS));
  $("pageInfo").textContent = `第 ${page + 1} / ${pages} 页，共 ${rows.length} 行`;
  $("prevBtn").disabled = page === 0;
  $("nextBtn").disabled = page >= pages - 1;
}

async function read(provider, commandText) {
  showError(null);
  try {
    const params = { provider, count: -1, options: 0 };
    if (commandText) params.commandText = commandText;
    const r = await rpc.call("AS_GetRecords", params);
    packet = r.data;
    page = 0;
    $("dataTitle").textContent = provider;
    $("data").hidden = false;
    showPage();
  } catch (e) { showError(e); }
}

function dayValue(input) { return { $datetime: input.value + "T00:00:00.000" }; }

async function dayReport() {
  showError(null);
  try {
    const r = await rpc.call("AS_GetRecords", {
      provider: "DayRptP", count: -1, options: 0,
      params: [{ name: "@fdate", value: dayValue($("fdate")) },
               { name: "@tdate", value: dayValue($("tdate")) }],
    });
    const out = (r.params || []).filter((p) => p.direction !== "input");
    fillTable($("reportTable"), out, [out.map((p) => p.value)]);
    if (r.data && r.data.rows && r.data.rows.length) {
      packet = r.data;
      page = 0;
      $("dataTitle").textContent = "日报";
      $("data").hidden = false;
      showPage();
    }
  } catch (e) { showError(e); }
}

async function login() {
  showError(null);
  const url = (location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/rpc";
  rpc = new RpcClient(url);
  rpc.onclose = () => signedOut("连接已断开");
  try {
    await rpc.open();
    await rpc.call("create", { class: $("module").value });
    await rpc.call("login", { operator: $("operator").value, station: $("station").value, work: "" });
    const r = await rpc.call("AS_GetProviderNames");
    const list = $("providerList");
    list.textContent = "";
    for (const name of r.names) {
      const a = document.createElement("a");
      a.textContent = name;
      a.onclick = () => read(name);
      list.appendChild(document.createElement("li")).appendChild(a);
    }
    for (const id of ["providers", "statement"]) $(id).hidden = false;
    $("report").hidden = !r.names.includes("DayRptP");
    $("status").textContent = $("operator").value + " @ " + $("station").value + " — " + $("module").value;
    $("loginBtn").disabled = true;
    $("logoutBtn").disabled = false;
  } catch (e) {
    showError(e);
    rpc.onclose = null;
    rpc.close();
  }
}

function signedOut(text) {
  for (const id of ["providers", "statement", "report", "data"]) $(id).hidden = true;
  $("status").textContent = text;
  $("loginBtn").disabled = false;
  $("logoutBtn").disabled = true;
}

async function logout() {
  rpc.onclose = null;
  try { await rpc.call("release"); } catch (e) { /* the connection ends anyway */ }
  rpc.close();
  signedOut("未连接");
}

const today = new Date().toISOString().slice(0, 10);
$("fdate").value = today.slice(0, 8) + "01";
$("tdate").value = today;
$("loginBtn").onclick = login;
$("logoutBtn").onclick = logout;
$("reportBtn").onclick = dayReport;
$("stmtBtn").onclick = () => read($("stmtProvider").value, $("stmtText").value);
$("prevBtn").onclick = () => { page--; showPage(); };
$("nextBtn").onclick = () => { page++; showPage(); };
