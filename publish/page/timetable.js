'use strict';
// The room's timetable: a week of slots, each putting a lesson set on the
// air at its start; and the running slot, which 仅本课 and 暂停 may last
// until. Uses page.js's $, request, post, getState, showMode, sets, button, textSpan and notify.
const kDayNames = ['周一', '周二', '周三', '周四', '周五', '周六', '周日'];
const kSlotFields = ['days', 'start', 'end', 'set'];
let timetable = { slots: [], running: null, week: '' };
let editedSlot = 0; // the slot in the form; 0 for a new one
let lessonTimer = 0;

// A look the page repeats by itself: a session that ran out is left to the next click.
function loadTimetable() {
  request('/api/timetable', undefined, false).then(showTimetable, () => {});
}

const runningKey = (data) => (data.running ? data.running.key : '');

function showTimetable(data) {
  // A lesson that began or ended changed the mode on the air.
  if (runningKey(data) !== runningKey(timetable)) {
    getState().then((state) => { if (state.user) showMode(state.classroom); });
  }
  timetable = data;
  const week = $('week');
  week.replaceChildren();
  kDayNames.forEach((name, index) => {
    const column = document.createElement('div');
    column.className = 'day';
    column.append(textSpan(name, 'day-name'));
    const day = index + 1;
    timetable.slots.filter((slot) => slot.days.includes(day))
      .sort((a, b) => a.start.localeCompare(b.start))
      .forEach((slot) => {
        const block = button(slot.start + '–' + slot.end + ' ' + slot.set, 'slot', () => editSlot(slot));
        block.classList.toggle('off', slot.offThisWeek);
        block.classList.toggle('running', !!timetable.running && timetable.running.id === slot.id);
        block.append(textSpan(slot.offThisWeek ? '本周停用' : kModeNames[slot.mode], 'slot-mode'));
        column.append(block);
      });
    week.append(column);
  });
  showSetChoices();
  showLesson();
}

function showSetChoices() {
  const select = $('slot-set');
  const chosen = select.value;
  select.replaceChildren();
  for (const set of sets) {
    const option = document.createElement('option');
    option.value = option.textContent = set.name;
    select.append(option);
  }
  if (chosen) select.value = chosen;
}

// "到本节课结束" is offered only while a slot runs.
function showLesson() {
  const running = timetable.running;
  clearTimeout(lessonTimer);
  $('lesson-end-field').hidden = !running;
  if (!running) $('until-lesson-end').checked = false;
  $('lesson-text').textContent = running ? '正在上课：' + running.set + '，' +
    new Date(Date.now() + running.secondsLeft * 1000).toTimeString().slice(0, 5) + ' 下课' : '';
  // A lesson's start or end changes what the page offers.
  lessonTimer = setTimeout(loadTimetable, Math.min(running ? running.secondsLeft * 1000 + 1000 : 60000, 60000));
}

function editSlot(slot) {
  editedSlot = slot ? slot.id : 0;
  for (const box of document.querySelectorAll('.slot-day')) {
    box.checked = !!slot && slot.days.includes(Number(box.value));
  }
  $('slot-start').value = slot ? slot.start : '08:00';
  $('slot-end').value = slot ? slot.end : '08:45';
  if (slot) $('slot-set').value = slot.set;
  $('slot-mode').value = slot ? slot.mode : 'lesson';
  $('slot-delete').hidden = $('slot-off').hidden = !slot;
  $('slot-off').textContent = slot && slot.offThisWeek ? '本周恢复' : '本周停用';
  $('slot-title').textContent = slot ? '修改这节课' : '添加一节课';
  showSlotProblem('', '');
}

function showSlotProblem(field, text) {
  for (const name of kSlotFields) {
    const note = $('slot-' + name + '-note');
    note.textContent = name === field ? text : '';
    note.classList.toggle('error', name === field);
  }
  $('slot-problem').textContent = field ? '' : text;
}

function changeTimetable(body, done) {
  post('/api/timetable', body).then((data) => {
    showTimetable(data);
    done(data);
  }, (error) => showSlotProblem((error.place && error.place.field) || '', error.message));
}

function saveSlot() {
  const days = [...document.querySelectorAll('.slot-day:checked')].map((box) => box.value).join(' ');
  if (!days) return showSlotProblem('days', '请至少选一天');
  if (!$('slot-set').value) return showSlotProblem('set', '请先在下面保存一个课程');
  changeTimetable({ action: 'save', id: editedSlot, days, start: $('slot-start').value, end: $('slot-end').value,
    set: $('slot-set').value, mode: $('slot-mode').value }, () => { editSlot(null); notify('课表已保存', null); });
}

function startTimetable() {
  $('slot-form').addEventListener('submit', (event) => { event.preventDefault(); saveSlot(); });
  $('slot-new').addEventListener('click', () => editSlot(null));
  $('slot-delete').addEventListener('click', () => changeTimetable({ action: 'delete', id: editedSlot },
    () => { editSlot(null); notify('已从课表删除', null); }));
  $('slot-off').addEventListener('click', () => {
    const slot = timetable.slots.find((each) => each.id === editedSlot);
    changeTimetable({ action: slot && slot.offThisWeek ? 'on' : 'off', id: editedSlot },
      (data) => editSlot(data.slots.find((each) => each.id === editedSlot)));
  });
  editSlot(null);
}
