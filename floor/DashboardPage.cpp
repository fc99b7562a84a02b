#include "floor/DashboardPage.h"

#include <utility>

namespace irdload::floor {

namespace {

// A page's own part: the header's links and the main part; the rest every page shares.
std::string Page(std::string_view kind, std::string_view links, std::string_view main) {
  std::string html = R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>irdload KIND</title>
<link rel="stylesheet" href="/dashboard.css">
<script src="/dashboard.js" defer></script>
</head>
<body data-page="KIND">
<header>
  <h1 id="title">irdload KIND</h1>
  <span id="totals"></span>
LINKS</header>
<main>
MAIN</main>
</body>
</html>
)page";
  for (const auto& [mark, text] :
       {std::pair{std::string_view("KIND"), kind}, std::pair{std::string_view("LINKS"), links},
        std::pair{std::string_view("MAIN"), main}}) {
    for (std::size_t at; (at = html.find(mark)) != std::string::npos;) {
      html.replace(at, mark.size(), text);
    }
  }
  return html;
}

}  // namespace

const std::string kStationPage =
    Page("station", R"page(  <span id="link" class="link down">connecting</span>
  <nav><a id="csv" href="/units.csv">units.csv</a> <a href="/api/snapshot">snapshot</a></nav>
)page",
         R"page(  <section id="station"></section>
  <h2>Latest units</h2>
  <table id="units">
    <thead><tr><th>ended</th><th>port</th><th>unit</th><th>unit id</th><th>result</th><th>record</th></tr></thead>
    <tbody></tbody>
  </table>
)page");

const std::string kFloorPage =
    Page("floor", R"page(  <span id="broker" class="link down">broker?</span>
  <span id="link" class="link down">connecting</span>
  <nav><a id="csv" href="/units.csv">units.csv</a> <a href="/api/state">state</a></nav>
)page",
         R"page(  <section id="floor"></section>
  <h2>Latest units</h2>
  <table id="units">
    <thead><tr><th>ended</th><th>station</th><th>port</th><th>unit</th><th>unit id</th><th>result</th><th>record</th></tr></thead>
    <tbody></tbody>
  </table>
)page");

const std::string_view kPageStyle = R"css(
:root { --bg: #f4f5f7; --tile: #fff; --ink: #1d2430; --mute: #667085; --ok: #1a7f37;
        --bad: #c62828; --busy: #1f6feb; --wait: #9a6700; }
* { box-sizing: border-box; }
body { margin: 0; font: 14px/1.4 system-ui, sans-serif; background: var(--bg); color: var(--ink); }
header { display: flex; gap: 16px; align-items: baseline; padding: 10px 16px; background: #1d2430;
         color: #fff; flex-wrap: wrap; }
header h1 { font-size: 18px; margin: 0; }
header nav { margin-left: auto; } header a { color: #9cc3ff; margin-left: 10px; }
.link { padding: 1px 8px; border-radius: 10px; font-size: 12px; }
.link.up { background: var(--ok); } .link.down { background: var(--bad); }
main { padding: 12px 16px; }
h2 { font-size: 15px; margin: 18px 0 6px; }
.tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(210px, 1fr)); gap: 10px; }
.tile { background: var(--tile); border-radius: 8px; padding: 10px 12px; border-left: 6px solid var(--mute);
        box-shadow: 0 1px 2px rgba(0,0,0,.08); }
.tile.busy { border-left-color: var(--busy); } .tile.wait { border-left-color: var(--wait); }
.tile.good { border-left-color: var(--ok); } .tile.bad { border-left-color: var(--bad); }
.tile .name { font-weight: 600; display: flex; justify-content: space-between; }
.tile .state { font-size: 12px; color: var(--mute); }
.tile .id { font-family: ui-monospace, monospace; font-size: 12px; min-height: 1.4em; }
.bar { height: 8px; background: #e4e7ec; border-radius: 4px; overflow: hidden; margin: 6px 0 4px; }
.bar div { height: 100%; background: var(--busy); width: 0; }
.tile .pace, .tile .counts, .tile .last { font-size: 12px; color: var(--mute); }
.tile .last.good { color: var(--ok); } .tile .last.bad { color: var(--bad); }
table { border-collapse: collapse; width: 100%; background: var(--tile); font-size: 13px; }
th, td { text-align: left; padding: 4px 8px; border-bottom: 1px solid #e4e7ec; }
td.good { color: var(--ok); } td.bad { color: var(--bad); }
.station { margin-bottom: 14px; }
.station h2 { display: flex; gap: 10px; align-items: baseline; margin: 6px 0; }
.station .sum { font-weight: normal; font-size: 13px; color: var(--mute); }
.station.offline .tiles { opacity: .55; }
)css";

const std::string_view kPageScript = R"js('use strict';
const busy = ['calling', 'sending-header', 'transferring', 'terminating'];
const waiting = ['waiting-for-adapter', 'waiting-for-next-unit', 'waiting-for-unit-id'];

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function bytes(n) {
  return n >= 1048576 ? (n / 1048576).toFixed(1) + ' MiB' : (n / 1024).toFixed(1) + ' KiB';
}
function duration(s) {
  if (s === null || s === undefined) return '';
  s = Math.round(s);
  // As the dialog and the command line write times: at least two digits of minutes.
  return String(Math.floor(s / 60)).padStart(2, '0') + ':' + String(s % 60).padStart(2, '0') + ' left';
}
function tile(p) {
  const t = el('div', 'tile');
  t.dataset.port = p.port;
  if (busy.includes(p.state)) t.classList.add('busy');
  else if (waiting.includes(p.state)) t.classList.add('wait');
  if (p.state === 'halted') t.classList.add('bad');
  const name = el('div', 'name');
  name.append(el('span', '', p.port), el('span', 'state', p.state.replace(/-/g, ' ')));
  t.append(name);
  t.append(el('div', 'id', p.unit ? 'unit ' + p.unit + (p.unitId ? ' · ' + p.unitId : '') : ''));
  const bar = el('div', 'bar'), fill = el('div');
  const share = p.bytes > 0 ? p.bytesDone / p.bytes : 0;
  fill.style.width = (busy.includes(p.state) ? Math.round(share * 100) : 0) + '%';
  bar.append(fill);
  t.append(bar);
  const pace = busy.includes(p.state)
    ? Math.round(share * 100) + '% · ' + bytes(p.bytesPerSecond) + '/s ' + duration(p.secondsLeft)
    : (p.status || p.detail || '');
  t.append(el('div', 'pace', pace));
  if (p.last) {
    const good = p.last.loaded;
    t.append(el('div', 'last ' + (good ? 'good' : 'bad'),
                'last: unit ' + p.last.unit + ' ' + (good ? 'loaded' : p.last.outcome)));
    if (!busy.includes(p.state)) t.classList.add(good ? 'good' : 'bad');
  } else {
    t.append(el('div', 'last', 'last: none yet'));
  }
  t.append(el('div', 'counts', 'loaded ' + p.ok + ' · failed ' + p.failed + ' · stopped ' + (p.stopped || 0)));
  return t;
}
function tiles(snapshot) {
  const box = el('div', 'tiles');
  snapshot.ports.forEach(p => box.append(tile(p)));
  return box;
}
function unitRow(u, station) {
  const tr = el('tr');
  tr.append(el('td', '', (u.time || '').replace('T', ' ').replace('Z', '')));
  if (station !== undefined) tr.append(el('td', '', station));
  tr.append(el('td', '', u.port), el('td', '', String(u.unit)), el('td', '', u.unitId));
  tr.append(el('td', u.loaded ? 'good' : 'bad', u.loaded ? 'loaded' : u.outcome + ' (' + u.reason + ')'));
  const rec = el('td');
  if (u.record) {
    const a = el('a', '', u.record);
    a.href = '/records/' + encodeURIComponent(u.record);
    rec.append(a);
  }
  tr.append(rec);
  return tr;
}
function showStation(state) {
  const s = state.snapshot;
  if (state.title) { document.getElementById('title').textContent = state.title; document.title = state.title; }
  document.getElementById('totals').textContent =
    s.ok + ' loaded · ' + s.failed + ' failed' + (s.stopping ? ' · stopping' : '') +
    (s.finished ? ' · finished' : '');
  document.getElementById('csv').hidden = !state.records;
  document.getElementById('station').replaceChildren(tiles(s));
  document.querySelector('#units tbody').replaceChildren(...state.units.map(u => unitRow(u)));
}
function stationRow(st) {
  const offline = st.status !== 'online';
  const row = el('div', 'station' + (offline ? ' offline' : ''));
  row.dataset.station = st.name;
  const head = el('h2', '', st.name);
  head.append(el('span', 'link ' + (offline ? 'down' : 'up'), st.status || 'unknown'));
  const s = st.snapshot;
  if (s) {
    head.append(el('span', 'sum', s.ok + ' loaded · ' + s.failed + ' failed' +
                   (s.finished ? ' · finished' : '')));
  }
  row.append(head);
  if (s) row.append(tiles(s));
  return row;
}
function showFloor(state) {
  let ok = 0, failed = 0;
  state.stations.forEach(st => { if (st.snapshot) { ok += st.snapshot.ok; failed += st.snapshot.failed; } });
  document.getElementById('totals').textContent =
    state.stations.length + ' stations · ' + ok + ' loaded · ' + failed + ' failed';
  const broker = document.getElementById('broker');
  broker.textContent = state.broker ? 'broker' : 'no broker';
  broker.className = 'link ' + (state.broker ? 'up' : 'down');
  document.getElementById('csv').hidden = !state.records;
  document.getElementById('floor').replaceChildren(...state.stations.map(stationRow));
  document.querySelector('#units tbody').replaceChildren(...state.units.map(u => unitRow(u, u.station)));
}
function connect() {
  const floor = document.body.dataset.page === 'floor';
  const show = floor ? showFloor : showStation;
  const link = document.getElementById('link');
  const events = new EventSource('/api/events');
  events.addEventListener(floor ? 'floor' : 'state', e => {
    show(JSON.parse(e.data));
    link.textContent = 'live'; link.className = 'link up';
  });
  events.onerror = () => { link.textContent = 'reconnecting'; link.className = 'link down'; };
}
connect();
)js";

std::optional<HttpReply> ServePage(const std::string& path, std::string_view page) {
  if (path == "/") return HttpReply{200, "text/html; charset=utf-8", std::string(page), {}};
  if (path == "/dashboard.css") {
    return HttpReply{200, "text/css; charset=utf-8", std::string(kPageStyle), {}};
  }
  if (path == "/dashboard.js") {
    return HttpReply{200, "text/javascript; charset=utf-8", std::string(kPageScript), {}};
  }
  return std::nullopt;
}

}  // namespace irdload::floor
