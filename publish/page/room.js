'use strict';
// The room view: what every screen in the room reports, as the announcer
// sums it up, asked for every second while a teacher is signed in. The
// reports come from the pupils' machines: every text of theirs goes in
// through textContent.
const kReportModes = { open: 'open', lessonOnly: 'lesson', paused: 'paused' };
// The announcer writes at least once a second while it knows machines,
// and without them only when something changes.
const kOldSummary = 5;
let roomRound = 0;
let roomTimer = 0;
let roomStopped = true;

// With every state the page shows: asks at once, then every second; stops
// when the teacher signs out.
function watchRoom(state) {
  clearTimeout(roomTimer);
  const round = ++roomRound;
  roomStopped = !state.user;
  if (roomStopped) showView('links');
  else askRoom(round);
}

// Only the view itself asks for the password when the sign-in has run out;
// behind the links it stops quietly until the view is opened again, so a
// page left open neither pops up the box nor asks every second in vain.
async function askRoom(round) {
  const inView = !$('room').hidden;
  try {
    if (!document.hidden) showRoom(await request('/api/room', undefined, inView));
  } catch (error) {
    if (error.signedOut || error.status === 401) {
      roomStopped = true;
      $('room-badge').textContent = '';
      $('room-why').textContent = '登录已超时：再打开“教室”时请重新登录';
      return;
    }
    $('room-why').textContent = error.message;
  }
  if (round === roomRound) roomTimer = setTimeout(() => askRoom(round), 1000);
}

// The view starts at its top, the count in sight.
function showView(view) {
  const shown = document.querySelector('.view[aria-pressed=true]');
  if (!shown || shown.dataset.view !== view) scrollTo(0, 0);
  for (const button of document.querySelectorAll('.view')) {
    button.setAttribute('aria-pressed', String(button.dataset.view === view));
  }
  $('room').hidden = view !== 'room';
  $('wall').hidden = view !== 'wall';
  $('links-view').hidden = view !== 'links';
  if (view === 'wall') openWall();
  if (view === 'room' && roomStopped && user) {
    roomStopped = false;
    askRoom(roomRound);
  }
}

// The hosts the lesson opens: those of the home page, of the links and the
// extra hosts, each with its subdomains, as the browsers take them in
// lesson mode.
function lessonHosts() {
  const hosts = new Set(onAir.hosts.split(/\s+/).filter(Boolean));
  for (const address of [onAir.home, ...onAir.links.map((link) => link.url)]) {
    try { hosts.add(new URL(address).hostname); } catch (e) { /* no address */ }
  }
  hosts.delete('');
  return hosts;
}

const inLesson = (host, hosts) => [...hosts].some((entry) => host === entry || host.endsWith('.' + entry));
const agoText = (seconds) => seconds < 120 ? seconds + ' 秒' : Math.floor(seconds / 60) + ' 分钟';

// What one machine's row says, and how urgently: rank 0 a problem, 1 a
// look, 2 fine. The mode on the air is the pressed mode button.
function describe(machine, version, hosts, classroomMode) {
  const text = (key) => typeof machine[key] === 'string' ? machine[key] : '';
  const offline = machine.offline === true;
  const stale = !offline && machine.applied !== true;
  const otherVersion = text('version') !== version;
  const host = text('host').toLowerCase();
  const offSite = !!host && hosts.size > 0 && !inLesson(host, hosts);
  const mode = kReportModes[text('mode')];
  const otherMode = !!mode && mode !== classroomMode;
  const withheld = machine.withheld === true;
  const status = [offline ? '离线 ' + agoText(Number(machine.heardAgo) || 0) : '', stale ? '未更新' : '',
    otherVersion ? '其他版本 ' + text('version') : ''].filter(Boolean).join('，');
  return {
    offline, stale, otherVersion, offSite,
    rank: status ? 0 : offSite || otherMode ? 1 : 2,
    status: status || '已更新',
    cells: [text('name'), text('address'), withheld ? '（不报告）' : text('login'),
      host || (withheld ? '（不报告）' : '（没有网页）')],
    mode: mode ? kModeNames[mode] + (otherMode ? '（全班：' + kModeNames[classroomMode] + '）' : '') : '',
  };
}

function cell(text, className) {
  const element = document.createElement('td');
  element.textContent = text;
  if (className) element.className = className;
  return element;
}

function machineRow(row) {
  const item = document.createElement('tr');
  item.className = ['problem', 'look', 'fine'][row.rank];
  const status = cell('', 'status');
  status.append(textSpan('● ', 'dot'), row.status);
  item.append(status, ...row.cells.map((text) => cell(text)), cell(row.mode));
  if (row.offSite) item.children[4].append(textSpan('不在本课网站', 'off'));
  return item;
}

// The summary as the announcer wrote it, or why there is none; the
// problems first in the announcer's order, then the machines off the
// lesson's sites or in another mode, then the rest.
function showRoom(answer) {
  const room = answer.room && typeof answer.room === 'object' ? answer.room : null;
  const machines = room && Array.isArray(room.machines) ? room.machines.filter((m) => m && typeof m === 'object') : [];
  const version = room && typeof room.version === 'string' ? room.version : '';
  const hosts = lessonHosts();
  const pressed = document.querySelector('.mode[aria-pressed=true]');
  const rows = machines.map((machine) => describe(machine, version, hosts, pressed ? pressed.dataset.mode : 'open'));
  const applied = machines.filter((machine) => machine.applied === true).length;
  rows.sort((a, b) => a.rank - b.rank);
  const count = machines.length ? applied + '/' + machines.length + ' 台已更新' : '';
  if ($('room-count').textContent !== count) $('room-count').textContent = count;
  $('room-count').classList.toggle('all', !!machines.length && applied === machines.length);
  $('room-badge').textContent = machines.length ? ' ' + applied + '/' + machines.length : '';
  const tally = (words, flag) => { const n = rows.filter((row) => row[flag]).length; return n ? words + ' ' + n + ' 台' : ''; };
  $('room-tally').textContent = [tally('离线', 'offline'), tally('未更新', 'stale'), tally('其他版本', 'otherVersion'),
    tally('不在本课网站', 'offSite')].filter(Boolean).join('　');
  $('room-why').textContent = !room ? answer.why || ''
    : !machines.length ? '还没有学生机报告：学生机信任广播程序的公钥后才会报告'
      : answer.age > kOldSummary ? '教室的报告已经 ' + agoText(answer.age) + '没有更新：广播程序可能已经停止' : '';
  $('room-machines').replaceChildren(...rows.map(machineRow));
}

for (const button of document.querySelectorAll('.view')) {
  button.addEventListener('click', () => showView(button.dataset.view));
}
