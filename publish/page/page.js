'use strict';
// The publishing page: every text reaches the document through textContent
// or an input's value, never as markup.
const $ = (id) => document.getElementById(id);
const kMaxLinks = 20;
const kLargestPicture = 2 * 1024 * 1024;
// Characters a toolbar button holds before it crowds the others out.
const kLongName = 6;
const kLongestSetName = 20;
const kFields = ['name', 'caption', 'url', 'picture', 'coolPicture'];
// The catalogue's limits in the pupils' encoding: a Chinese character takes two.
const kLimits = { home: 255, name: 127, caption: 255, url: 255, picture: 255, coolPicture: 255 };
const kLabels = { home: '地址', name: '名称', caption: '说明', url: '地址', picture: '图片地址', coolPicture: '图片地址' };
const kAddresses = new Set(['home', 'url', 'picture', 'coolPicture']);
const kWebAddressRule = '地址要以 http:// 或 https:// 开头，例如 http://www.baidu.com';
// What the classroom state carries: lower-case DNS names (the last label
// not all digits) or dotted IPv4 addresses, in at most 699 bytes.
const kHostEntry = new RegExp('^(?:(?:25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(?:\\.(?:25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)){3}|' +
  '(?=.{1,253}$)(?:[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?\\.)*(?![0-9]+$)[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?)$');
const kLongestHosts = 699;
const kModeNames = { open: '开放', lesson: '仅本课', paused: '暂停' };
// How long the page waits before asking an unreachable server again.
const kStartRetrySeconds = 3;

let csrf = '';
let user = '';
let room = ''; // the room every request names; '' without rooms
let pictureUrl = '';
let onAir = { home: '', links: [], hosts: '', set: '' }; // what the pupils see now
let edit = { home: '', links: [], hosts: '', set: '' }; // the draft, kept in local storage
let sets = [];
// A mistake shows once its field was left, or after 发布 was pressed.
let leftFields = new WeakMap();
let topLeft = new Set(); // the fields outside the links that were left
let showAll = false;
let serverProblem = null; // {at, text}: what only the server can tell
let uploadNotes = new WeakMap();
let checkTimer = 0;
let dragIndex = -1;
let signingIn = null;
let undoAction = null;
let pauseTimer = 0;

const getState = () => fetch('/api/state' + (room ? '?room=' + encodeURIComponent(room) : ''), { credentials: 'same-origin' }).then((response) => response.json());

// Sends `body` as JSON, or a picture file as it is; without a body, asks.
// A session that ran out opens the sign-in box, and the request is sent
// again after it.
async function request(path, body, again = true) {
  const picture = body instanceof Blob;
  const type = !picture ? 'application/json' : body.type.startsWith('image/') ? body.type : 'image/x-unknown';
  const init = body === undefined ? { method: 'GET', headers: { 'X-CSRF-Token': csrf } }
    : { method: 'POST', headers: { 'X-CSRF-Token': csrf, 'Content-Type': type },
      body: picture ? body : JSON.stringify(body) };
  // Every request about a room names it: in the query, or in the body.
  let address = path;
  if (room && body === undefined) address += (path.includes('?') ? '&' : '?') + 'room=' + encodeURIComponent(room);
  else if (room && !picture) init.body = JSON.stringify(Object.assign({ room }, body));
  let response;
  try {
    response = await fetch(address, Object.assign(init, { credentials: 'same-origin' }));
  } catch (e) {
    throw new Error('连不上发布服务器，请检查网络后再试');
  }
  let data = {};
  try { data = await response.json(); } catch (e) { data = { error: '服务器出了问题（' + response.status + '），请稍后再试' }; }
  if (again && user && response.status === 401) {
    await signInAgain();
    return request(path, body, false);
  }
  if (again && user && response.status === 403) {
    csrf = (await getState()).csrf;
    return request(path, body, false);
  }
  if (!response.ok) throw Object.assign(new Error(data.error || '没有成功，请再试一次'), { place: data, status: response.status });
  return data;
}
const post = request; // always with a body

function signInAgain() {
  signingIn = signingIn || new Promise((resolve, reject) => {
    const dialog = $('again');
    $('again-message').textContent = '';
    $('again-form').onsubmit = async (event) => {
      event.preventDefault();
      const password = $('again-password').value;
      $('again-password').value = '';
      try {
        csrf = (await getState()).csrf;
        csrf = (await post('/api/sign-in', { user, password }, false)).csrf;
        resolve();
        dialog.close();
      } catch (error) {
        $('again-message').textContent = error.message;
      }
    };
    dialog.onclose = () => {
      signingIn = null;
      reject(Object.assign(new Error('还没有重新登录，您的修改仍保留在这台电脑上'), { signedOut: true }));
    };
    dialog.showModal();
  });
  return signingIn;
}

function show(state) {
  csrf = state.csrf;
  user = state.user;
  $('school').textContent = state.school || '';
  $('signin').hidden = !!user;
  $('editor').hidden = !user;
  $('signout').hidden = !user;
  $('who').textContent = user ? '已登录：' + user : '';
  room = state.room || '';
  watchRooms(state);
  // A teacher whose account lists no room sees only why.
  $('no-room').hidden = !user || state.room !== null;
  if (!$('no-room').hidden) $('editor').hidden = true;
  watchRoom(state);
  if (!user || state.room === null) return;
  pictureUrl = state.pictureUrl;
  const current = state.history.find((entry) => entry.onAir);
  onAir = copyEdit(state.published, current ? current.set : '');
  // The announcer kept the last valid catalogue: the links below are that one.
  $('refusal').textContent = state.refusal
    ? '发布的目录文件没有被采用（' + state.refusal + '），学生看到的仍是上一个有效的目录，即下面的内容' : '';
  sets = state.sets;
  showSets();
  showHistory(state.history);
  showMode(state.classroom);
  loadTimetable();
}

// The mode on the air, and while a pause counts down, the time it has left;
// when it ends the server is asked what followed.
function showMode(classroom) {
  for (const button of document.querySelectorAll('.mode')) {
    button.setAttribute('aria-pressed', String(button.dataset.mode === classroom.mode));
  }
  $('end-pause').hidden = classroom.mode !== 'paused';
  $('end-pause').dataset.after = classroom.after;
  clearInterval(pauseTimer);
  const ends = Date.now() + classroom.secondsLeft * 1000;
  const tell = () => {
    const left = Math.max(0, Math.ceil((ends - Date.now()) / 1000));
    let text = '学生的屏幕现在：' + kModeNames[classroom.mode];
    if (classroom.mode === 'lesson') text += '，只能打开首页、链接和下面允许的网站';
    if (classroom.mode === 'paused') {
      text += '，显示“' + (classroom.message || '老师暂停了屏幕，请看老师') + '”' +
        (classroom.secondsLeft ? '，还剩 ' + Math.floor(left / 60) + ':' + String(left % 60).padStart(2, '0') +
          '，之后回到' + kModeNames[classroom.after] : '');
    }
    $('mode-text').textContent = text;
    if (classroom.secondsLeft && !left) {
      clearInterval(pauseTimer);
      getState().then((state) => { if (state.user) showMode(state.classroom); });
    }
  };
  tell();
  if (classroom.secondsLeft) pauseTimer = setInterval(tell, 1000);
}

// One click switches the mode; 暂停 takes the message and the minutes beside it.
function pressMode(mode) {
  const body = { mode };
  const minutes = $('pause-minutes').value.trim();
  $('mode-problem').textContent = '';
  if (mode === 'paused') {
    if (!/^\d{0,4}$/.test(minutes)) {
      $('mode-problem').textContent = '分钟数要写整数，不限时请留空';
      return;
    }
    body.message = $('pause-message').value.trim();
    if (minutes) body.minutes = Number(minutes);
  }
  if (mode !== 'open' && $('until-lesson-end').checked && !$('lesson-end-field').hidden) body.untilLessonEnd = true;
  post('/api/mode', body).then((state) => {
    show(state);
    announce('学生的屏幕已切换为' + kModeNames[state.classroom.mode]);
  }, (error) => { $('mode-problem').textContent = error.message; });
}

const copyLink = (link) => Object.fromEntries(kFields.map((key) => [key, typeof link[key] === 'string' ? link[key] : '']));
const copyEdit = (from, set) => ({
  home: typeof from.home === 'string' ? from.home : '',
  links: Array.isArray(from.links) ? from.links.slice(0, kMaxLinks).map(copyLink) : [],
  hosts: typeof from.hosts === 'string' ? from.hosts : '',
  set: typeof set === 'string' ? set : '' });
const trimmed = (from) => ({ home: from.home.trim(), hosts: from.hosts.trim(), links: from.links.map((link) =>
  Object.fromEntries(kFields.map((key) => [key, link[key].trim()]))) });
const isDirty = () => JSON.stringify(trimmed(edit)) !== JSON.stringify(trimmed(onAir));
const draftKey = () => 'kestrel-draft:' + user + (room ? ':' + room : '');

function saveDraft() {
  if (isDirty()) localStorage.setItem(draftKey(), JSON.stringify(edit));
  else localStorage.removeItem(draftKey());
}

function readDraft() {
  try {
    const draft = JSON.parse(localStorage.getItem(draftKey()));
    return draft && typeof draft === 'object' ? copyEdit(draft, draft.set) : null;
  } catch (e) {
    return null;
  }
}

// Starts the editor from `from`: nothing left yet, no mistake shown.
function startEdit(from) {
  edit = copyEdit(from, from.set);
  leftFields = new WeakMap();
  topLeft = new Set();
  showAll = false;
  serverProblem = null;
  $('home').value = edit.home;
  $('hosts').value = edit.hosts;
  renderLinks();
}

// Bytes in the pupils' encoding: one for ASCII, two for every other character it has.
function gbkLength(text) {
  let bytes = 0;
  for (const c of text) bytes += c.codePointAt(0) < 0x80 ? 1 : c.codePointAt(0) > 0xffff ? 4 : 2;
  return bytes;
}

const foldAscii = (text) => text.replace(/[A-Z]/g, (c) => c.toLowerCase());
const isWebAddress = (text) => /^https?:\/\/./i.test(text);
const completeAddress = (text) => /^www\./i.test(text.trim()) ? 'http://' + text.trim() : text;

function tooLong(field, text) {
  const limit = Math.floor(kLimits[field] / 2);
  const count = [...text].length;
  return kLabels[field] + '太长：最多 ' + limit + ' 个汉字（现在 ' + count + ' 个' +
    (/[\x00-\x7f]/.test(text) ? '，字母和数字算半个' : '') + '）';
}

// The mistakes the page can find itself, by field ("2:url", "-1:home");
// the server checks everything again.
function localProblems() {
  const problems = new Map();
  const note = (at, text) => { if (!problems.has(at)) problems.set(at, text); };
  const check = (at, field, text) => {
    if (gbkLength(text.trim()) > kLimits[field]) note(at, tooLong(field, text.trim()));
    if (kAddresses.has(field) && text.trim() && !isWebAddress(text.trim())) note(at, kWebAddressRule);
  };
  check('-1:home', 'home', edit.home);
  const hosts = edit.hosts.trim();
  const badHost = hosts.split(/\s+/).find((entry) => entry && !kHostEntry.test(entry));
  if (badHost) note('-1:hosts', '“' + badHost + '”不是网站名或 IP 地址，要写成小写，例如 www.baidu.com 或 192.168.1.10，不带 http:// 和 /');
  else if (hosts.length > kLongestHosts) note('-1:hosts', '允许的网站太多：最多 ' + kLongestHosts + ' 个字母');
  const seen = new Map();
  edit.links.forEach((link, i) => {
    const name = foldAscii(link.name.trim());
    if (!name) note(i + ':name', '名称不能为空');
    else if (name === 'home') note(i + ':name', '“home”留给首页，请换一个名称');
    else if (seen.has(name)) note(i + ':name', '和第 ' + (seen.get(name) + 1) + ' 个链接重名了');
    if (!seen.has(name)) seen.set(name, i);
    for (const field of kFields) check(i + ':' + field, field, link[field]);
  });
  return problems;
}

function wasLeft(at) {
  const [index, field] = at.split(':');
  if (index === '-1') return topLeft.has(field);
  const fields = leftFields.get(edit.links[Number(index)]);
  return !!fields && fields.has(field);
}

function markLeft(at) {
  const [index, field] = at.split(':');
  if (index === '-1') { topLeft.add(field); return; }
  const link = edit.links[Number(index)];
  if (!leftFields.has(link)) leftFields.set(link, new Set());
  leftFields.get(link).add(field);
}

// Each mistake under its own field, once the field was left; while the
// teacher types near a limit, a counter instead.
function showProblems() {
  const problems = localProblems();
  if (serverProblem && !problems.has(serverProblem.at)) problems.set(serverProblem.at, serverProblem.text);
  for (const input of document.querySelectorAll('#edit-form .field')) {
    const at = input.dataset.at;
    const field = at.split(':')[1];
    const problem = problems.get(at) || '';
    const shown = !!problem && (showAll || wasLeft(at));
    const note = input.closest('.cell').querySelector('.note');
    const bytes = gbkLength(input.value.trim());
    const counting = !shown && field in kLimits && document.activeElement === input && bytes > kLimits[field] - 20;
    note.textContent = shown ? problem : counting ? '现在 ' + [...input.value.trim()].length + ' 个字，最多 ' +
      Math.floor(kLimits[field] / 2) + ' 个汉字' : '';
    note.classList.toggle('error', shown);
    input.classList.toggle('bad', shown);
    input.setAttribute('aria-invalid', String(shown));
  }
  return problems;
}

function editJson() {
  return Object.assign(trimmed(edit), { set: edit.set });
}

// After any change: the draft is kept, the preview drawn, the mistakes
// shown; whether every character can be shown to the pupils only the
// server can tell, so it is asked once typing pauses. The page asks that by
// itself, so a session that ran out is left to the next click.
function changed() {
  saveDraft();
  renderPreview();
  updateBar();
  const problems = showProblems();
  clearTimeout(checkTimer);
  if (problems.size) return;
  $('problem').textContent = '';
  checkTimer = setTimeout(() => {
    post('/api/check', editJson(), false).then(() => { serverProblem = null; showProblems(); },
      (error) => { placeServerProblem(error); showProblems(); });
  }, 400);
}

function placeServerProblem(error) {
  const place = error.place || {};
  serverProblem = place.field ? { at: place.link + ':' + place.field,
    text: error.message.replace(/^(第 \d+ 个链接：|首页：|允许的网站：)/, '') } : null;
  return !!serverProblem;
}

function updateBar() {
  const dirty = isDirty();
  $('bar-text').textContent = dirty ? '有未发布的修改' : '学生看到的就是下面的链接';
  $('bar').classList.toggle('dirty', dirty);
  $('discard').hidden = !dirty;
}

// The address of a picture this page can show: the uploads, and the
// catalogue's own pictures in the same folder.
function pictureFile(address) {
  if (!pictureUrl || !address.startsWith(pictureUrl)) return '';
  const file = address.slice(pictureUrl.length);
  return /^[A-Za-z0-9_-][A-Za-z0-9._-]{0,59}\.bmp$/.test(file) ? file : '';
}

// A picture's pixels as the pupils see them (magenta is transparent), or
// null when there is none; each picture is fetched once, not at every
// keystroke that draws the preview anew.
const loadedPictures = new Map();
function loadPicture(file) {
  if (!loadedPictures.has(file)) {
    loadedPictures.set(file, new Promise((resolve) => {
      const image = new Image();
      image.onerror = () => resolve(null);
      image.onload = () => {
        const context = document.createElement('canvas').getContext('2d');
        context.canvas.width = context.canvas.height = 24;
        context.drawImage(image, 0, 0, 24, 24);
        const pixels = context.getImageData(0, 0, 24, 24);
        for (let i = 0; i < pixels.data.length; i += 4) {
          if (pixels.data[i] === 255 && pixels.data[i + 1] === 0 && pixels.data[i + 2] === 255) pixels.data[i + 3] = 0;
        }
        resolve(pixels);
      };
      image.src = '/pictures/' + file;
    }));
  }
  return loadedPictures.get(file);
}

// Draws a button's picture, or says there is none.
function drawPicture(link, holder) {
  const file = pictureFile(link.coolPicture.trim() || link.picture.trim());
  (file ? loadPicture(file) : Promise.resolve(null)).then((pixels) => {
    if (!pixels) {
      holder.replaceChildren(textSpan('无图片', 'no-picture'));
      return;
    }
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = 24;
    canvas.getContext('2d').putImageData(pixels, 0, 0);
    holder.replaceChildren(canvas);
  });
}

function renderPreview() {
  const toolbar = $('preview');
  toolbar.replaceChildren();
  const long = [];
  for (const link of edit.links) {
    const button = document.createElement('span');
    button.className = 'button';
    button.title = link.caption;
    const picture = document.createElement('span');
    picture.className = 'picture';
    drawPicture(link, picture);
    button.append(picture, textSpan(link.name, 'name'));
    toolbar.append(button);
    if ([...link.name.trim()].length > kLongName) long.push('「' + link.name.trim() + '」');
  }
  $('preview-hint').textContent = long.length
    ? long.join('、') + '较长，在学生的工具栏上会占很宽；名称最好不超过 ' + kLongName + ' 个字' : '';
}

function announce(text) {
  $('moved').textContent = text;
}

function move(from, to, focusClass) {
  if (to < 0 || to >= edit.links.length || from === to) return;
  const [link] = edit.links.splice(from, 1);
  edit.links.splice(to, 0, link);
  renderLinks();
  if (focusClass) {
    const row = $('links').children[to];
    const button = row.querySelector(focusClass);
    (button.disabled ? row.querySelector(focusClass === '.up' ? '.down' : '.up') : button).focus();
  }
  announce('已移到第 ' + (to + 1) + ' 个');
}

function showUploadNote(link) {
  const row = $('links').children[edit.links.indexOf(link)];
  if (!row) return;
  const note = uploadNotes.get(link) || { text: '', error: false };
  const element = row.querySelector('.upload-note');
  element.textContent = note.text;
  element.classList.toggle('error', note.error);
  row.querySelector('.file-text').textContent = link.picture ? '更换图片' : '选择图片…';
  row.querySelector('.link-picture').value = link.picture;
  row.querySelector('.link-cool').value = link.coolPicture;
  drawPicture(link, row.querySelector('.thumb'));
}

// A file too large or of another kind is refused here, before sending.
function choosePicture(link, input) {
  const file = input.files[0];
  input.value = '';
  const note = (text, error) => { uploadNotes.set(link, { text, error }); showUploadNote(link); };
  if (!file) return;
  if (file.size > kLargestPicture) {
    return note('图片太大（' + (file.size / 1048576).toFixed(1) + ' MB），请选 2 MB 以内的图片', true);
  }
  if (!/^image\/(png|jpeg|gif|bmp)$/.test(file.type)) return note('只能用 PNG、JPEG、GIF 或 BMP 图片', true);
  note('正在上传…', false);
  post('/api/picture', file).then((data) => {
    link.picture = data.picture;
    link.coolPicture = '';
    note('✓ 已上传', false);
    changed();
  }, (error) => note(error.message, true));
}

function renderLinks() {
  const list = $('links');
  list.replaceChildren();
  edit.links.forEach((link, index) => {
    const row = $('link-row').content.firstElementChild.cloneNode(true);
    row.querySelectorAll('.field').forEach((input) => {
      const key = input.dataset.key;
      input.dataset.at = index + ':' + key;
      input.id = 'link-' + index + '-' + key;
      const note = input.closest('.cell').querySelector('.note');
      note.id = input.id + '-note';
      input.setAttribute('aria-describedby', note.id);
      input.value = link[key];
      input.addEventListener('input', () => { link[key] = input.value; changed(); });
    });
    row.querySelector('.link-file').addEventListener('change', (event) => choosePicture(link, event.target));
    row.querySelector('.up').disabled = index === 0;
    row.querySelector('.down').disabled = index === edit.links.length - 1;
    row.querySelector('.up').addEventListener('click', () => move(index, index - 1, '.up'));
    row.querySelector('.down').addEventListener('click', () => move(index, index + 1, '.down'));
    row.querySelector('.remove').addEventListener('click', () => {
      edit.links.splice(index, 1);
      renderLinks();
      const next = $('links').children[Math.min(index, edit.links.length - 1)];
      (next ? next.querySelector('.link-name') : $('add')).focus();
      announce('已删除第 ' + (index + 1) + ' 个链接');
    });
    row.addEventListener('dragstart', (event) => {
      dragIndex = index;
      row.classList.add('dragging');
      event.dataTransfer.effectAllowed = 'move';
      event.dataTransfer.setData('text/plain', String(index));
    });
    row.addEventListener('dragend', () => row.classList.remove('dragging'));
    row.addEventListener('dragover', (event) => event.preventDefault());
    row.addEventListener('drop', (event) => { event.preventDefault(); move(dragIndex, index); });
    list.append(row);
    showUploadNote(link);
  });
  $('add').disabled = edit.links.length >= kMaxLinks;
  changed();
}

// A question in the page; resolves true when the teacher agrees.
function ask(text, yes) {
  return new Promise((resolve) => {
    const dialog = $('ask');
    $('ask-text').textContent = text;
    $('ask-yes').textContent = yes;
    dialog.returnValue = '';
    dialog.onclose = () => resolve(dialog.returnValue === 'yes');
    dialog.showModal();
    $('ask-yes').focus();
  });
}

const clock = (time) => new Date(time).toLocaleTimeString('zh-CN', { hour: '2-digit', minute: '2-digit' });

function when(time) {
  const date = new Date(time);
  const today = date.toDateString() === new Date().toDateString();
  return (today ? '今天 ' : (date.getMonth() + 1) + '月' + date.getDate() + '日 ') + clock(time);
}

function notify(text, undo) {
  $('notice-text').textContent = text;
  $('undo').hidden = !undo;
  undoAction = undo;
  $('notice').hidden = false;
}

function failed(error) {
  $('problem').textContent = error.message;
}

// Every publish asks once, and can be undone by publishing what was on
// the air before it.
async function publishing(name, count, request) {
  if (!await ask('将把「' + name + '」（' + count + ' 个链接）发布给全体学生，替换当前工具栏。', '发布')) return false;
  const before = onAir;
  $('problem').textContent = '';
  $('notice').hidden = true;
  try {
    published(await request(), '已发布 ', () => post('/api/publish', Object.assign(trimmed(before), { set: before.set }))
      .then((state) => published(state, '已撤销，恢复为之前的 ', null), failed));
    return true;
  } catch (error) {
    if (placeServerProblem(error)) {
      showAll = true;
      focusFirstProblem();
    } else {
      failed(error);
    }
    return false;
  }
}

function published(state, what, undo) {
  const wasDirty = isDirty();
  show(state);
  // Unpublished changes stay; else the editor shows what is on the air.
  if (!wasDirty || !isDirty()) startEdit(onAir);
  else changed();
  notify(clock(Date.now()) + ' ' + what + onAir.links.length + ' 个链接，学生机几秒内更新', undo);
}

function focusFirstProblem() {
  showProblems();
  const first = document.querySelector('#edit-form .field.bad');
  if (!first) return false;
  showView('links');
  const menu = first.closest('details');
  if (menu) menu.open = true;
  first.scrollIntoView({ block: 'center' });
  first.focus();
  return true;
}

async function publishEdit() {
  for (const input of document.querySelectorAll('#edit-form .field')) completeField(input);
  showAll = true;
  if (focusFirstProblem()) {
    $('problem').textContent = '请先改好标出的地方';
    return;
  }
  const request = () => post('/api/publish', editJson());
  if (await publishing(edit.set || '编辑中的链接', edit.links.length, request)) localStorage.removeItem(draftKey());
}

// Hosts as teachers paste them: addresses cut to their host, capitals
// folded, any separator a single space.
const completeHosts = (text) => text.split(/[\s,，、;；]+/).filter(Boolean)
  .map((entry) => entry.replace(/^https?:\/\//i, '').replace(/[/?#].*$/, '').toLowerCase()).join(' ');

function completeField(input) {
  const at = input.dataset.at;
  const [index, key] = at.split(':');
  if (!kAddresses.has(key) && key !== 'hosts') return;
  const completed = key === 'hosts' ? completeHosts(input.value) : completeAddress(input.value);
  if (completed === input.value) return;
  input.value = completed;
  if (index === '-1') edit[key] = completed;
  else edit.links[Number(index)][key] = completed;
  changed();
}

function button(text, className, action) {
  const element = document.createElement('button');
  element.type = 'button';
  element.className = className;
  element.textContent = text;
  element.addEventListener('click', action);
  return element;
}

function textSpan(text, className) {
  const element = document.createElement('span');
  element.className = className;
  element.textContent = text;
  return element;
}

function showSets() {
  const list = $('sets');
  list.replaceChildren();
  for (const set of sets) {
    const item = document.createElement('li');
    const what = textSpan(set.name, 'what');
    what.append(textSpan(set.edit.links.length + ' 个链接', 'count'));
    item.append(what,
      button('载入编辑', 'edit-set', () => loadSet(set)),
      button('发布', 'publish-set', () => publishing(set.name, set.edit.links.length,
        () => post('/api/publish-set', { set: set.name }))),
      button('删除', 'delete-set', () => deleteSet(set)));
    list.append(item);
  }
}

async function loadSet(set) {
  if (isDirty() && !await ask('当前修改尚未发布，载入课程会覆盖它们，继续吗？', '载入')) return;
  startEdit(copyEdit(set.edit, set.name));
  $('set-name').value = set.name;
  const first = document.querySelector('.link-name');
  if (first) first.focus();
}

function deleteSet(set) {
  post('/api/delete-set', { set: set.name }).then((state) => {
    show(state);
    notify('已删除课程「' + set.name + '」', () => post('/api/save-set', Object.assign({ set: set.name }, set.edit))
      .then((restored) => { show(restored); notify('已恢复课程「' + set.name + '」', null); }, failed));
  }, failed);
}

async function saveSet() {
  const name = $('set-name').value.trim();
  const note = $('set-note');
  const bad = !name || [...name].length > kLongestSetName || /[\r\n\t]/.test(name);
  note.textContent = bad ? '课程名称要有 1 到 ' + kLongestSetName + ' 个字' : '';
  note.classList.toggle('error', bad);
  $('set-name').classList.toggle('bad', bad);
  if (bad) return $('set-name').focus();
  showAll = true;
  if (focusFirstProblem()) {
    note.textContent = '链接中还有标出的地方要改';
    return;
  }
  if (sets.some((set) => set.name === name) &&
      !await ask('已有名为「' + name + '」的课程，要用现在的链接替换它吗？', '替换')) return;
  post('/api/save-set', Object.assign(trimmed(edit), { set: name })).then((state) => {
    show(state);
    edit.set = name;
    saveDraft();
    notify('已保存课程「' + name + '」', null);
  }, (error) => { note.textContent = error.message; note.classList.add('error'); });
}

function showHistory(history) {
  const list = $('history');
  list.replaceChildren();
  for (const entry of history) {
    const item = document.createElement('li');
    const what = textSpan(when(entry.time) + '　' + entry.user + '　', 'what');
    if (entry.set) what.append(textSpan('「' + entry.set + '」', 'set'));
    what.append(textSpan(entry.names.length + ' 个链接', 'count'));
    if (entry.onAir) what.append(textSpan('当前', 'current'));
    const names = textSpan(entry.names.join('、') || '（没有链接）', 'names');
    const restore = () => publishing(entry.set || when(entry.time) + ' 的版本', entry.names.length,
      () => post('/api/republish', { id: entry.id }));
    item.append(what, names, button('查看', 'view', () => viewVersion(entry, restore)),
      button('恢复此版本', 'republish', restore));
    list.append(item);
  }
}

function viewVersion(entry, restore) {
  post('/api/version', { id: entry.id }).then((data) => {
    $('version-title').textContent = when(entry.time) + ' ' + entry.user + ' 发布的版本' +
      (entry.set ? '「' + entry.set + '」' : '');
    const list = $('version-links');
    list.replaceChildren();
    if (data.edit.home) list.append(textSpan('首页：' + data.edit.home, 'home-line'));
    if (data.edit.hosts) list.append(textSpan('还允许的网站：' + data.edit.hosts, 'home-line'));
    for (const link of data.edit.links) {
      const item = document.createElement('li');
      item.append(textSpan(link.name, 'what'), textSpan(link.url, 'url'));
      list.append(item);
    }
    $('version-restore').onclick = () => { $('version').close(); restore(); };
    $('version').showModal();
  }, failed);
}

function start() {
  $('signin-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const form = { user: $('user').value.trim(), password: $('password').value };
    $('password').value = '';
    post('/api/sign-in', form, false).then((state) => {
      $('signin-message').textContent = '';
      show(state);
      startEdit(readDraft() || onAir);
    }, (error) => { $('signin-message').textContent = error.message; });
  });
  $('signout').addEventListener('click', async () => {
    if (isDirty() && !await ask('还有未发布的修改。它们会留在这台电脑上，下次登录时还在。现在退出吗？', '退出')) return;
    post('/api/sign-out', {}, false).then(show, failed);
  });
  $('home').addEventListener('input', () => { edit.home = $('home').value; changed(); });
  $('hosts').addEventListener('input', () => { edit.hosts = $('hosts').value; changed(); });
  for (const button of document.querySelectorAll('.mode')) {
    button.addEventListener('click', () => pressMode(button.dataset.mode));
  }
  $('end-pause').addEventListener('click', () => pressMode($('end-pause').dataset.after));
  // Enter in the pause's own fields presses 暂停, as in a form.
  for (const field of [$('pause-message'), $('pause-minutes')]) {
    field.addEventListener('keydown', (event) => { if (event.key === 'Enter') pressMode('paused'); });
  }
  startTimetable();
  $('edit-form').addEventListener('focusout', (event) => {
    if (!event.target.classList.contains('field')) return;
    completeField(event.target);
    markLeft(event.target.dataset.at);
    showProblems();
  });
  $('edit-form').addEventListener('focusin', (event) => {
    if (event.target.classList.contains('field')) showProblems();
  });
  $('edit-form').addEventListener('submit', (event) => { event.preventDefault(); publishEdit(); });
  $('set-form').addEventListener('submit', (event) => { event.preventDefault(); saveSet(); });
  $('add').addEventListener('click', () => {
    edit.links.push(copyLink({}));
    renderLinks();
    $('links').lastElementChild.querySelector('.link-name').focus();
  });
  $('discard').addEventListener('click', async () => {
    if (await ask('放弃所有未发布的修改，回到学生现在看到的链接吗？', '放弃修改')) startEdit(onAir);
  });
  $('undo').addEventListener('click', () => { $('notice').hidden = true; if (undoAction) undoAction(); });
  $('notice-close').addEventListener('click', () => { $('notice').hidden = true; });
  $('version-close').addEventListener('click', () => $('version').close());
  window.addEventListener('beforeunload', (event) => {
    if (!user || !isDirty()) return;
    event.preventDefault();
    event.returnValue = '';
  });
  showFirstState();
}

// Until the server first answers, the page says why it is empty and asks again.
function showFirstState() {
  getState().then((state) => {
    $('start-problem').hidden = true;
    show(state);
    if (user) startEdit(readDraft() || onAir);
    else $('user').focus();
  }, () => {
    $('start-problem').hidden = false;
    setTimeout(showFirstState, kStartRetrySeconds * 1000);
  });
}

start();
