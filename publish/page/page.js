'use strict';
// The publishing page: every text reaches the document through textContent
// or an input's value, never as markup.
const $ = (id) => document.getElementById(id);
const kMaxLinks = 20;
let csrf = '';
let pictureUrl = '';
let links = [];
let checkTimer = 0;
let dragIndex = -1;

// Sends `body` as JSON, or a picture file as it is.
async function post(path, body) {
  const picture = body instanceof Blob;
  const type = !picture ? 'application/json' : body.type.startsWith('image/') ? body.type : 'image/x-unknown';
  const response = await fetch(path, {
    method: 'POST', headers: { 'X-CSRF-Token': csrf, 'Content-Type': type },
    body: picture ? body : JSON.stringify(body), credentials: 'same-origin' });
  let data = {};
  try { data = await response.json(); } catch (e) { data = { error: '服务器没有回答（' + response.status + '）' }; }
  // A session or token that has ended: take a new one, so that the next
  // try works without reloading the page.
  if (response.status === 401 || response.status === 403) refresh();
  if (!response.ok) throw new Error(data.error || '请求失败（' + response.status + '）');
  return data;
}

function refresh() {
  return fetch('/api/state', { credentials: 'same-origin' }).then((response) => response.json()).then((state) => {
    const wasSignedIn = !$('editor').hidden;
    show(state);
    if (state.user && !wasSignedIn) loadEdit(state.published);
  });
}

function show(state) {
  csrf = state.csrf;
  const signedIn = !!state.user;
  $('signin').hidden = signedIn;
  $('editor').hidden = !signedIn;
  if (!signedIn) return;
  $('who').textContent = '已登录：' + state.user;
  pictureUrl = state.pictureUrl;
  // The announcer kept the last valid catalogue: the links below are that one.
  $('refusal').textContent = state.refusal
    ? '发布的目录文件被拒绝（' + state.refusal + '），学生看到的仍是上一个有效的目录，即下面的内容' : '';
  showSets(state.sets);
  showHistory(state.history);
}

function loadEdit(edit) {
  $('home').value = edit.home;
  links = edit.links.map((link) => Object.assign({}, link));
  renderLinks();
}

// Bytes in GBK: one for ASCII, two for every other character it has.
function gbkLength(text) {
  let bytes = 0;
  for (const c of text) bytes += c.codePointAt(0) < 0x80 ? 1 : c.codePointAt(0) > 0xffff ? 4 : 2;
  return bytes;
}

const foldAscii = (text) => text.replace(/[A-Z]/g, (c) => c.toLowerCase());
const isWebAddress = (text) => /^https?:\/\/./i.test(text);

// The checks the page can make itself; the server checks everything again.
function localProblem() {
  let problem = '';
  const note = (text) => { if (!problem) problem = text; };
  document.querySelectorAll('.field').forEach((input) => {
    const tooLong = gbkLength(input.value) > Number(input.dataset.limit);
    input.classList.toggle('bad', tooLong);
    if (tooLong) note('文字太长：最多 ' + input.dataset.limit + ' 字节（汉字每个 2 字节）');
  });
  if ($('home').value && !isWebAddress($('home').value)) note('首页：地址必须以 http:// 或 https:// 开头');
  if (links.length > kMaxLinks) note('链接太多：工具栏最多放 20 个');
  const seen = new Set();
  links.forEach((link, i) => {
    const where = '第 ' + (i + 1) + ' 个链接：';
    const name = foldAscii(link.name.trim());
    if (!name) note(where + '名称不能为空');
    else if (name === 'home') note(where + '名称 "home" 留给首页');
    else if (seen.has(name)) note(where + '名称重复');
    seen.add(name);
    if ((link.url && !isWebAddress(link.url)) || (link.picture && !isWebAddress(link.picture)))
      note(where + '地址必须以 http:// 或 https:// 开头');
  });
  return problem;
}

function editJson() {
  const trimmed = (link) => {
    const copy = {};
    for (const key of ['name', 'caption', 'url', 'picture', 'coolPicture']) copy[key] = link[key].trim();
    return copy;
  };
  return { home: $('home').value.trim(), links: links.map(trimmed) };
}

// Checks as the teacher types; whether every character has a GBK form only
// the server can tell, so it is asked once typing pauses.
function changed() {
  renderPreview();
  const problem = localProblem();
  $('problem').textContent = problem;
  $('published').textContent = '';
  clearTimeout(checkTimer);
  if (problem) return;
  checkTimer = setTimeout(() => {
    post('/api/check', editJson()).then(() => { $('problem').textContent = ''; },
      (error) => { $('problem').textContent = error.message; });
  }, 400);
}

// A picture of the announcer's is shown from this page's own copy; magenta
// becomes transparent, as on the pupils' buttons.
function previewPicture(address, canvas) {
  if (!pictureUrl || !address.startsWith(pictureUrl)) return;
  const file = address.slice(pictureUrl.length);
  if (!/^[0-9a-f]{32}\.bmp$/.test(file)) return;
  const image = new Image();
  image.onload = () => {
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0, 24, 24);
    const pixels = context.getImageData(0, 0, 24, 24);
    for (let i = 0; i < pixels.data.length; i += 4) {
      if (pixels.data[i] === 255 && pixels.data[i + 1] === 0 && pixels.data[i + 2] === 255) pixels.data[i + 3] = 0;
    }
    context.putImageData(pixels, 0, 0);
  };
  image.src = '/pictures/' + file;
}

function renderPreview() {
  const toolbar = $('preview');
  toolbar.replaceChildren();
  for (const link of links) {
    const button = document.createElement('span');
    button.className = 'button';
    button.title = link.caption;
    const canvas = document.createElement('canvas');
    canvas.width = 24;
    canvas.height = 24;
    previewPicture(link.picture, canvas);
    const name = document.createElement('span');
    name.textContent = link.name;
    button.append(canvas, name);
    toolbar.append(button);
  }
}

function move(from, to) {
  if (to < 0 || to >= links.length || from === to) return;
  const [link] = links.splice(from, 1);
  links.splice(to, 0, link);
  renderLinks();
}

function upload(index, file) {
  $('problem').textContent = '正在上传图片……';
  post('/api/picture', file).then((data) => {
    links[index].picture = data.picture;
    links[index].coolPicture = '';
    renderLinks();
  }, (error) => { $('problem').textContent = error.message; });
}

function renderLinks() {
  const list = $('links');
  list.replaceChildren();
  links.forEach((link, index) => {
    const row = $('link-row').content.firstElementChild.cloneNode(true);
    row.querySelectorAll('.field').forEach((input) => {
      input.value = link[input.dataset.key];
      input.addEventListener('input', () => { link[input.dataset.key] = input.value; changed(); });
    });
    row.querySelector('.link-file').addEventListener('change', (event) => {
      if (event.target.files.length) upload(index, event.target.files[0]);
    });
    row.querySelector('.up').addEventListener('click', () => move(index, index - 1));
    row.querySelector('.down').addEventListener('click', () => move(index, index + 1));
    row.querySelector('.remove').addEventListener('click', () => { links.splice(index, 1); renderLinks(); });
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
  });
  $('add').disabled = links.length >= kMaxLinks;
  changed();
}

function showSets(sets) {
  const list = $('sets');
  list.replaceChildren();
  for (const set of sets) {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.textContent = set.name;
    const edit = document.createElement('button');
    edit.type = 'button';
    edit.className = 'edit-set';
    edit.textContent = '编辑';
    edit.addEventListener('click', () => { $('set-name').value = set.name; loadEdit(set.edit); });
    const publish = document.createElement('button');
    publish.type = 'button';
    publish.className = 'publish-set';
    publish.textContent = '发布';
    publish.addEventListener('click', () => act('/api/publish-set', { set: set.name }, true));
    item.append(name, edit, publish);
    list.append(item);
  }
}

function showHistory(history) {
  const list = $('history');
  list.replaceChildren();
  for (const entry of history) {
    const item = document.createElement('li');
    const text = document.createElement('span');
    text.textContent = new Date(entry.time).toLocaleString('zh-CN') + '　' + entry.user;
    const again = document.createElement('button');
    again.type = 'button';
    again.className = 'republish';
    again.textContent = '再次发布';
    again.addEventListener('click', () => act('/api/republish', { id: entry.id }, true));
    item.append(text, again);
    list.append(item);
  }
}

// A change on the server; a publish also shows what is now on the air.
function act(path, body, publishes) {
  return post(path, body).then((state) => {
    show(state);
    if (publishes) {
      loadEdit(state.published);
      $('published').textContent = '已发布';
    } else {
      $('problem').textContent = '';
    }
  }, (error) => { $('problem').textContent = error.message; });
}

function start() {
  $('signin-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const form = { user: $('user').value, password: $('password').value };
    $('password').value = '';
    post('/api/sign-in', form).then((state) => {
      $('signin-message').textContent = '';
      show(state);
      loadEdit(state.published);
    }, (error) => { $('signin-message').textContent = error.message; });
  });
  $('signout').addEventListener('click', () => post('/api/sign-out', {}).then(show));
  $('home').addEventListener('input', changed);
  $('add').addEventListener('click', () => {
    links.push({ name: '', caption: '', url: 'http://', picture: '', coolPicture: '' });
    renderLinks();
  });
  $('publish').addEventListener('click', () => {
    const problem = localProblem();
    if (problem) { $('problem').textContent = problem; return; }
    act('/api/publish', editJson(), true);
  });
  $('save-set').addEventListener('click', () => {
    act('/api/save-set', Object.assign(editJson(), { set: $('set-name').value.trim() }), false);
  });
  refresh();
}

start();
