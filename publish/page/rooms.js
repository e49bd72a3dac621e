'use strict';
// The rooms a teacher controls: a picker when there are several, and for an
// admin the wall of every room's view, the rooms with stale screens first.
// Room names are IT staff's and go in through textContent.
const kWallSeconds = 2;
let roomsOf = null; // whose rooms are shown
let wallRound = 0;
let wallTimer = 0;

// With every state the page shows: the rooms are asked for again only when
// another teacher signs in, or when the last look failed. The page asks by
// itself here, so a session that ran out is left to the next click.
function watchRooms(state) {
  if (state.user === roomsOf) return;
  roomsOf = state.user;
  clearTimeout(wallTimer);
  ++wallRound;
  $('room-pick').hidden = true;
  $('wall-button').hidden = true;
  $('room-name').textContent = '';
  if (state.user) request('/api/rooms', undefined, false).then(showRooms, () => { roomsOf = null; });
}

function showRooms(answer) {
  const rooms = Array.isArray(answer.rooms) ? answer.rooms : [];
  $('room-picker').replaceChildren(...rooms.map((item) => {
    const option = document.createElement('option');
    option.value = item.id;
    option.textContent = item.name || item.id;
    return option;
  }));
  $('room-picker').value = room;
  $('room-pick').hidden = rooms.length < 2;
  const only = rooms.length === 1 ? rooms[0] : null;
  $('room-name').textContent = only && only.id ? only.name || only.id : '';
  $('wall-button').hidden = answer.admin !== true;
}

// Another room: the draft of this one stays on this computer for its return.
async function pickRoom(id) {
  saveDraft();
  room = id;
  $('room-picker').value = id;
  try {
    show(await request('/api/state'));
    startEdit(readDraft() || onAir);
  } catch (error) {
    failed(error);
  }
}

// The rooms from most screens behind to none, then those without reports.
function showWall(rooms) {
  const tiles = rooms.filter((item) => item && typeof item === 'object').map((item) => {
    const counts = item.counts && typeof item.counts === 'object' ? item.counts : null;
    const machines = counts ? Number(counts.machines) || 0 : 0;
    const applied = counts ? Number(counts.applied) || 0 : 0;
    const old = counts && Number(item.age) > kOldSummary;
    return {
      item, behind: machines ? machines - applied : -1,
      count: machines ? applied + '/' + machines : '—',
      why: !counts ? item.why || ''
        : old ? '报告已经 ' + agoText(Number(item.age)) + '没有更新' : !machines ? '还没有学生机报告' : '',
    };
  });
  tiles.sort((a, b) => b.behind - a.behind);
  $('wall-rooms').replaceChildren(...tiles.map((tile) => {
    const entry = document.createElement('li');
    const open = button('', 'wall-room ' + (tile.behind > 0 ? 'problem' : tile.behind === 0 ? 'fine' : 'none'), () => {
      pickRoom(tile.item.id).then(() => showView('room'));
    });
    open.append(textSpan(tile.item.name || tile.item.id, 'wall-name'), textSpan(tile.count, 'wall-count'),
      textSpan(tile.why, 'wall-why'));
    entry.append(open);
    return entry;
  }));
}

async function askWall(round) {
  try {
    if (!document.hidden) showWall((await request('/api/rooms', undefined, false)).rooms || []);
    $('wall-problem').textContent = '';
  } catch (error) {
    $('wall-problem').textContent = error.status === 401 ? '登录已超时，请重新登录' : error.message;
    if (error.status === 401) return;
  }
  if (round === wallRound && !$('wall').hidden) wallTimer = setTimeout(() => askWall(round), kWallSeconds * 1000);
}

function openWall() {
  clearTimeout(wallTimer);
  askWall(++wallRound);
}

$('room-picker').addEventListener('change', () => pickRoom($('room-picker').value));
