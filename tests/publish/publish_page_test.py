#!/usr/bin/python3
"""The publishing page in Debian's Chromium, driven through Selenium, with
the real announcer publishing what the page writes and a listener hearing
it; every address is 127.0.0.1.

  publish_page_test.py PUBLISH ANNOUNCER [BROWSER [TEST...]]

With BROWSER (the built kestrel), the end-to-end cases run too, on a
private X display: a publish from the page puts the new button on the
browser's toolbar within 5 seconds, and the room view counts the browser
that took it beside a pupil machine that did not.
"""
import binascii
import http.client
import json
import os
import pwd
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zlib

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("publish_page: python3-selenium is missing (scripts/setup.sh installs it)")
    sys.exit(77)

PUBLISH, ANNOUNCER = sys.argv[1], sys.argv[2]
BROWSER = sys.argv[3] if len(sys.argv) > 3 else ""
PASSWORD = "correct horse"
VERSION = subprocess.run([ANNOUNCER, "--version"], capture_output=True, text=True).stdout.split()[-1]
WAIT = 20  # seconds: the longest any step may take

for proxy in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
    os.environ.pop(proxy, None)


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def png(width, height, rgba):
    """A PNG of one colour, RGBA."""
    row = b"\0" + bytes(rgba) * width
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))


def bmp24(rgb):
    """A 24 x 24 BMP of one colour, as a catalogue's own picture."""
    pixels = bytes(reversed(rgb)) * 24 * 24
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, 24, 24, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels)


def wait_for(what, condition, seconds=WAIT):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    raise AssertionError("waited %d s: %s" % (seconds, what))


class Programs:
    """The publishing page, the announcer announcing its folder and serving
    its pictures, and a listener printing what is on the air."""

    def __init__(self, work, listen, interval="0.5", room=False, rooms=False):
        self.work = work
        self.state = os.path.join(work, "state")
        self.on_air = os.path.join(work, "on-air")
        self.state_file = os.path.join(self.state, "classroom-state.ini")
        self.users = os.path.join(work, "users")
        self.port = free_port()
        self.picture_port = free_port()
        self.channel = free_port(socket.SOCK_DGRAM)
        self.origin = "http://127.0.0.1:%d" % self.port
        self.picture_url = "http://127.0.0.1:%d/pictures/" % self.picture_port
        self.processes = []
        # With rooms: bo controls r302 only, it (an admin) every room.
        users = [["anna"]] + ([["bo", "--rooms", "r302"], ["it", "--admin"]] if rooms else [])
        for user in users:
            subprocess.run([PUBLISH, "--add-user"] + user + ["--users", self.users], input=PASSWORD + "\n",
                           text=True, check=True, stdout=subprocess.DEVNULL)
        rooms_file = os.path.join(work, "rooms.ini")
        if rooms:
            with open(rooms_file, "w", encoding="utf-8") as f:
                for number in (302, 303):
                    f.write("[room]\nid = r%d\nname = 三年%s班\nport = %d\nto = 239.255.93.%d\n"
                            % (number, "二三"[number - 302], free_port(socket.SOCK_DGRAM), number - 300))
        self.publish_log = self.start("publish", [PUBLISH, "--port", str(self.port), "--state", self.state,
                                                  "--users", self.users, "--rooms", rooms_file,
                                                  "--catalogue", os.path.join(work, "nothing-on-air.ini"),
                                                  "--picture-url", self.picture_url, "--on-air", self.on_air])
        wait_for("the page listens", lambda: "publishing page on" in self.read(self.publish_log))
        os.makedirs(os.path.join(self.state, "pictures"), exist_ok=True)
        # The room view: states signed with a key the browsers trust, and
        # the screens' reports from any 127.x address summed up in the on-air folder.
        self.report_port = free_port(socket.SOCK_DGRAM)
        self.trusted_keys = os.path.join(work, "trusted-keys")
        room_options = ["--key", os.path.join(work, "key"), "--state", os.path.join(work, "counter"), "--on-air",
                        self.on_air, "--report-port", str(self.report_port), "--report-from", "127.0.0.0/8"]
        if room:
            with open(self.trusted_keys, "w") as f:
                subprocess.run([ANNOUNCER, "--gen-key", os.path.join(work, "key")], stdout=f, stderr=subprocess.DEVNULL)
        self.announce_log = self.start("announce", [
            ANNOUNCER, "--to", "127.0.0.1", "--port", str(self.channel), "--interval", interval,
            "--serve-at", "/pictures/=" + os.path.join(self.state, "pictures"), "--http-address", "127.0.0.1",
            "--http-port", str(self.picture_port), "--published", os.path.join(self.state, "catalogue.ini"),
            "--published-state", self.state_file] + (room_options if room else []))
        # The channel port is the listener's or the browser's, not both.
        if listen:
            self.listen_log = self.start("listen", [ANNOUNCER, "--listen", "--from", "127.0.0.1",
                                                    "--port", str(self.channel)])

    def start(self, name, arguments):
        log = os.path.join(self.work, name + ".log")
        with open(log, "w") as out:
            self.processes.append(subprocess.Popen(arguments, stdout=out, stderr=subprocess.STDOUT))
        return log

    @staticmethod
    def read(path):
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def heard_names(self):
        """The link names of the last full announcement the listener heard."""
        lines = self.read(self.listen_log).splitlines()
        names = [re.search(r' name="([^"]*)"', line).group(1) for line in lines if ' name="' in line]
        return names

    def stop(self):
        for process in reversed(self.processes):
            process.terminate()
        for process in self.processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def start_chromium():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-proxy-server", "--window-size=1200,1600"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


class PageCase(unittest.TestCase):
    listens = True
    room = False
    rooms = False

    def setUp(self):
        if not shutil.which("chromedriver") or not os.path.exists("/usr/bin/chromium"):
            self.skipTest("chromium and chromium-driver are not installed")
        self.work = tempfile.mkdtemp(prefix="kestrel-publish-page-")
        self.programs = Programs(self.work, self.listens, room=self.room, rooms=self.rooms)
        self.browser = start_chromium()
        self.browser.get(self.programs.origin + "/")

    def tearDown(self):
        self.browser.quit()
        self.programs.stop()
        if sys.exc_info()[0] is None:
            shutil.rmtree(self.work, ignore_errors=True)

    def find(self, selector):
        return self.browser.find_element(By.CSS_SELECTOR, selector)

    def all(self, selector):
        return self.browser.find_elements(By.CSS_SELECTOR, selector)

    def text_of(self, selector):
        return self.find(selector).text

    def sign_in(self, password=PASSWORD, user="anna"):
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#signin").is_displayed())
        self.find("#user").clear()
        self.find("#user").send_keys(user)
        self.find("#password").send_keys(password)
        self.find("#signin-button").click()

    def signed_in(self, user="anna"):
        self.sign_in(user=user)
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#editor").is_displayed())

    def add_link(self, name, caption="", url="http://127.0.0.1/lesson"):
        self.find("#add").click()
        row = self.all("#links .link")[-1]
        self.assertEqual(self.browser.switch_to.active_element, row.find_element(By.CSS_SELECTOR, ".link-name"))
        row.find_element(By.CSS_SELECTOR, ".link-name").send_keys(name)
        row.find_element(By.CSS_SELECTOR, ".link-caption").send_keys(caption)
        field = row.find_element(By.CSS_SELECTOR, ".link-url")
        field.clear()
        field.send_keys(url)
        return row

    def upload(self, row, picture):
        """Uploads the picture bytes from the row's file field and waits
        until the row holds the re-encoded picture's address."""
        path = os.path.join(self.work, "upload-%d.png" % len(os.listdir(self.work)))
        with open(path, "wb") as f:
            f.write(picture)
        index = self.all("#links .link").index(row)  # the rows are drawn anew
        row.find_element(By.CSS_SELECTOR, ".link-file").send_keys(path)
        # Read in one step, as the rows may be drawn anew meanwhile.
        wait_for("the picture is re-encoded", lambda: self.browser.execute_script(
            "return document.querySelectorAll('.link-picture')[arguments[0]].value", index).endswith(".bmp"))

    def answer(self, yes=True):
        """Answers the page's question; returns it."""
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#ask").is_displayed())
        question = self.text_of("#ask-text")
        self.find("#ask-yes" if yes else "#ask button[value=no]").click()
        return question

    def published_notice(self):
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#notice").is_displayed()
                                                or self.text_of("#problem"))
        self.assertEqual(self.text_of("#problem"), "")
        return self.text_of("#notice-text")

    def publish(self, button="#publish"):
        self.find(button).click()
        self.answer()
        return self.published_notice()

    def press(self, *keys):
        ActionChains(self.browser).send_keys(*keys).perform()

    def view_size(self, width, height):
        """Makes the page's own view width x height."""
        self.browser.set_window_size(width, height)
        inner = self.browser.execute_script("return [innerWidth, innerHeight]")
        self.browser.set_window_size(2 * width - inner[0], 2 * height - inner[1])

    def published_names(self):
        with open(os.path.join(self.programs.state, "catalogue.ini"), encoding="utf-8") as f:
            return re.findall(r"^name = (.*)$", f.read(), re.M)

    def start_browser(self):
        """The built browser on a private X display, hearing the channel
        (and trusting the announcer's key when it signs); stopped with the
        test. Returns the display."""
        for tool in ("Xvfb", "import"):
            if not shutil.which(tool):
                self.fail(tool + " is missing (scripts/setup.sh installs it)")
        display, xvfb = x_display()
        self.addCleanup(lambda: (xvfb.kill(), xvfb.wait()))
        folder = os.path.join(self.work, "browser")
        os.makedirs(os.path.join(folder, "home"))
        os.makedirs(os.path.join(folder, "runtime"), mode=0o700)
        shutil.copy(BROWSER, os.path.join(folder, "kestrel"))
        settings = "[设置]\n主频道端口=%d\n[广播绑定IP地址]\nIP地址=127.0.0.1\n" % self.programs.channel
        if self.room:
            settings += "[广播签名]\n公钥文件=%s\n" % self.programs.trusted_keys
        with open(os.path.join(folder, "kestrel.INI"), "wb") as f:
            f.write(settings.encode("gbk"))
        environment = dict(os.environ, HOME=os.path.join(folder, "home"), DISPLAY=display,
                           XDG_RUNTIME_DIR=os.path.join(folder, "runtime"), QT_QPA_PLATFORM="xcb",
                           QTWEBENGINE_DISABLE_SANDBOX="1",
                           QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-dev-shm-usage")
        with open(os.path.join(self.work, "browser.log"), "w") as log:
            program = subprocess.Popen([os.path.join(folder, "kestrel")], cwd=os.path.join(folder, "home"),
                                       env=environment, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        self.addCleanup(lambda: (os.killpg(program.pid, 15), program.wait(timeout=20)))
        return display

    def fetch_status(self, script_body):
        """Runs a fetch() in the page and returns its status."""
        return self.browser.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            + script_body + ".then((r) => done(r.status), () => done(-1));")


class SignInTest(PageCase):
    def test_a_wrong_password_is_refused_and_the_next_try_waits_a_moment(self):
        self.sign_in("wrong password")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#signin-message"))
        self.assertEqual(self.text_of("#signin-message"), "用户名或密码错误")
        self.browser.execute_script("document.getElementById('signin-message').textContent = ''")
        self.sign_in(PASSWORD)
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#signin-message"))
        self.assertIn("秒后再试", self.text_of("#signin-message"))
        self.assertFalse(self.find("#editor").is_displayed())
        time.sleep(1.5)
        self.signed_in()


class WebSafetyTest(PageCase):
    def test_a_post_without_the_token_is_refused(self):
        self.signed_in()
        body = "JSON.stringify({home: '', links: [{name: 'x'}]})"
        json_type = "'Content-Type': 'application/json'"
        self.assertEqual(self.fetch_status(
            "fetch('/api/publish', {method: 'POST', headers: {%s}, body: %s})" % (json_type, body)), 403)
        self.assertEqual(self.fetch_status(
            "fetch('/api/publish', {method: 'POST', headers: {'X-CSRF-Token': 'f00d', %s}, body: %s})"
            % (json_type, body)), 403)
        self.assertFalse(os.path.exists(os.path.join(self.programs.state, "catalogue.ini")))

    def test_a_request_with_a_foreign_host_header_is_refused(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.programs.port, timeout=WAIT)
        connection.request("GET", "/", headers={"Host": "rebound.example:%d" % self.programs.port})
        self.assertEqual(connection.getresponse().status, 421)
        connection.close()

    def test_a_caption_holding_script_shows_as_text(self):
        self.signed_in()
        caption = "<script>window.injected = 1</script>"
        self.add_link("<b>粗</b>", caption)
        self.publish()
        self.browser.refresh()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all("#preview .button"))
        button = self.all("#preview .button")[0]
        self.assertEqual(button.get_attribute("title"), caption)
        self.assertEqual(button.find_element(By.CSS_SELECTOR, ".name").text, "<b>粗</b>")
        self.assertEqual(self.all("#preview b"), [])
        self.assertEqual(self.find(".link-caption").get_attribute("value"), caption)
        self.assertIsNone(self.browser.execute_script("return window.injected"))


class PublishTest(PageCase):
    def test_a_mistake_shows_under_its_own_field_once_it_is_left_and_publish_goes_to_it(self):
        self.view_size(1280, 800)
        self.signed_in()
        for i in range(6):
            self.add_link("第%d课" % i)
        cases = [  # Tabs from the name to the field, typed, its value afterwards, the message under it
            (1, "笑\U0001F600", "笑\U0001F600", "说明中的“\U0001F600”学生的电脑无法显示，请换一个字"),
            (2, "baidu.com", "baidu.com", "地址要以 http:// 或 https:// 开头，例如 http://www.baidu.com"),
            (2, "www.baidu.com", "http://www.baidu.com", ""),
            (0, "HOME", "HOME", "“home”留给首页，请换一个名称"),
            (0, "语" * 70, "语" * 70, "名称太长：最多 63 个汉字（现在 70 个）"),
        ]
        for i, (tabs, typed, value, message) in enumerate(cases):
            self.find("#add").click()
            self.press("课%d" % i if tabs else "", *[Keys.TAB] * tabs, typed)
            field = self.browser.switch_to.active_element
            note = field.find_element(By.XPATH, "ancestor::div[contains(@class, 'cell')]/p")
            time.sleep(0.6)  # the server's check has answered
            self.assertNotIn("error", note.get_attribute("class"), "no message before the field is left: " + typed)
            self.press(Keys.TAB)
            WebDriverWait(self.browser, WAIT).until(lambda b: note.text == message, message)
            self.assertEqual(field.get_attribute("value"), value)
            self.assertEqual("bad" in field.get_attribute("class"), bool(message))
        self.browser.execute_script("scrollTo(0, 0)")
        self.find("#publish").click()
        self.assertEqual(self.browser.switch_to.active_element, self.all(".link-caption")[6])
        self.assertTrue(self.browser.execute_script(LAYOUT_SCRIPT + "return onScreen('.link-caption.bad')"))
        for word in ("字节", "GBK", "会话"):
            self.assertNotIn(word, self.text_of("body"))

    def test_a_link_with_an_uploaded_png_reordered_and_published_is_heard_in_the_new_order(self):
        self.signed_in()
        self.add_link("数学", "第一课", "http://127.0.0.1/shuxue")
        row = self.add_link("语文", "第二课", "http://127.0.0.1/yuwen")
        self.upload(row, png(60, 40, (200, 30, 30, 255)))
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".upload-note").text, "✓ 已上传")
        self.assertEqual(row.find_element(By.CSS_SELECTOR, ".file-text").text, "更换图片")
        wait_for("the picture in the row", lambda: row.find_elements(By.CSS_SELECTOR, ".thumb canvas"))
        self.add_link("英语", "", "http://127.0.0.1/yingyu")
        # 语文 up by its button, then 英语 dragged onto 数学's place.
        self.all("#links .link")[1].find_element(By.CSS_SELECTOR, ".up").click()
        self.browser.execute_script("""
            const rows = document.querySelectorAll('#links .link');
            const data = new DataTransfer();
            rows[2].dispatchEvent(new DragEvent('dragstart', {dataTransfer: data, bubbles: true}));
            rows[1].dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));""")
        names = [field.get_attribute("value") for field in self.all(".link-name")]
        self.assertEqual(names, ["语文", "英语", "数学"])
        preview = [name.text for name in self.all("#preview .name")]
        self.assertEqual(preview, names)
        self.publish()
        self.assertEqual(self.published_names(), names)
        heard = wait_for("the listener hears the new catalogue",
                         lambda: self.programs.heard_names()[-3:] == names and self.programs.heard_names())
        self.assertEqual(heard[-3:], names)
        address = self.all(".link-picture")[0].get_attribute("value")
        self.assertTrue(address.startswith("http://127.0.0.1:%d/pictures/" % self.programs.picture_port), address)
        bmp = urllib.request.urlopen(address, timeout=WAIT).read()
        self.assertEqual(bmp[:2], b"BM")
        width, height, _, bits = struct.unpack("<iiHH", bmp[18:30])
        self.assertEqual((width, height, bits, len(bmp)), (24, 24, 24, 1782))
        # The picture came out of the toolbar preview too.
        self.assertIn('"picture":"' + address, self.browser.execute_script(
            "return fetch('/api/state').then((r) => r.text())"))

    def test_a_full_toolbar_of_twenty_links_with_long_chinese_captions_publishes(self):
        self.signed_in()
        names = ["第%d课" % (i + 1) for i in range(20)]
        caption = ("古诗两首春晓静夜思" * 7)[:60]
        for i, name in enumerate(names):
            self.add_link(name, caption, "http://127.0.0.1/lesson%d" % i)
        self.assertTrue(self.find("#add").get_attribute("disabled"))
        self.publish()
        self.assertEqual(self.published_names(), names)
        with open(os.path.join(self.programs.state, "catalogue.ini"), encoding="utf-8") as f:
            self.assertEqual(re.findall(r"^caption = (.*)$", f.read(), re.M), [caption] * 20)

    def test_publish_asks_and_undo_publishes_the_version_before(self):
        self.signed_in()
        self.add_link("第一版")
        self.publish()
        self.find(".link-name").clear()
        self.find(".link-name").send_keys("第二版")
        self.find("#publish").click()
        self.assertEqual(self.answer(False), "将把「编辑中的链接」（1 个链接）发布给全体学生，替换当前工具栏。")
        self.assertEqual(self.published_names(), ["第一版"])
        self.assertEqual(self.text_of("#bar-text"), "有未发布的修改")
        self.assertRegex(self.publish(), r"^\d\d:\d\d 已发布 1 个链接，学生机几秒内更新$")
        self.assertEqual(self.published_names(), ["第二版"])
        self.find("#undo").click()
        wait_for("the version before is on the air", lambda: self.published_names() == ["第一版"])
        wait_for("the editor shows it", lambda: self.browser.execute_script(  # in one step: the rows are drawn anew
            "return document.querySelector('.link-name').value") == "第一版")

    def test_the_history_names_the_links_and_restores_a_version_after_asking(self):
        self.signed_in()
        self.add_link("古诗")
        self.add_link("算术")
        self.find("#set-name").send_keys("三年级二班 周一\n")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all("#sets li"))
        self.find(".link-name").clear()
        self.find(".link-name").send_keys("别的")
        self.publish()
        self.find("#sets .publish-set").click()
        self.assertIn("「三年级二班 周一」（2 个链接）", self.answer())
        self.published_notice()
        self.assertEqual(self.published_names(), ["古诗", "算术"])
        entries = self.all("#history li")
        self.assertEqual(len(entries), 2)
        for said in ("anna", "「三年级二班 周一」", "2 个链接", "当前", "古诗、算术"):
            self.assertIn(said, entries[0].text)
        self.assertNotIn("当前", entries[1].text)
        entries[1].find_element(By.CSS_SELECTOR, ".view").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#version").is_displayed())
        self.assertIn("别的", self.text_of("#version-links"))
        self.find("#version-restore").click()
        self.answer()
        wait_for("the first version is published again", lambda: self.published_names() == ["别的", "算术"])

    def test_saving_over_a_set_asks_and_a_deleted_set_comes_back_with_undo(self):
        self.signed_in()
        self.add_link("古诗")
        for _ in range(2):
            self.find("#set-name").clear()
            self.find("#set-name").send_keys("语文第三课\n")
        self.assertEqual(self.answer(), "已有名为「语文第三课」的课程，要用现在的链接替换它吗？")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#notice-text") == "已保存课程「语文第三课」")
        self.find("#sets .delete-set").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: not self.all("#sets li"))
        self.find("#undo").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all("#sets li"))
        self.find(".link-name").send_keys("诗")
        self.find("#sets .edit-set").click()
        self.assertEqual(self.answer(), "当前修改尚未发布，载入课程会覆盖它们，继续吗？")
        self.assertEqual(self.find(".link-name").get_attribute("value"), "古诗")


class ClassroomModeTest(PageCase):
    def setUp(self):
        # The slots run now: the programs' clock shows about noon.
        self.zone = os.environ.get("TZ")
        os.environ["TZ"] = "NOON%d" % (time.gmtime().tm_hour - 12)
        super().setUp()

    def tearDown(self):
        super().tearDown()
        if self.zone is None:
            os.environ.pop("TZ")
        else:
            os.environ["TZ"] = self.zone

    def state_file(self):
        return Programs.read(self.programs.state_file) if os.path.exists(self.programs.state_file) else ""

    def test_the_mode_buttons_switch_pause_with_message_and_minutes_and_end_the_pause(self):
        self.signed_in()
        self.add_link("古诗")
        self.publish()  # states go out with a catalogue
        pressed = lambda: [button.text for button in self.all(".mode[aria-pressed=true]")]
        wait_for("open is on the air", lambda: pressed() == ["开放"])
        self.find("#pause-message").send_keys("请看黑板")
        self.find("#pause-minutes").send_keys("5")
        steps = [  # the button (or Enter in a pause field), what the file then says, what the page says
            (".mode[data-mode=lesson]", ["mode = lesson"], "学生的屏幕现在：仅本课"),
            ("#pause-minutes", ["mode = paused", "message = 请看黑板", "after-pause = lesson"],
             "学生的屏幕现在：暂停，显示“请看黑板”，还剩 (5:00|4:5\\d)，之后回到仅本课"),
            ("#end-pause", ["mode = lesson"], "学生的屏幕现在：仅本课"),
        ]
        for button, lines, says in steps:
            pressed_by = self.find(button)
            pressed_by.send_keys(Keys.ENTER) if pressed_by.tag_name == "input" else pressed_by.click()
            wait_for(button + " on the air", lambda: all(line + "\n" in self.state_file() for line in lines))
            wait_for(button + " shown", lambda: re.match(says, self.text_of("#mode-text")))
        self.assertEqual(pressed(), ["仅本课"])
        wait_for("the listener hears the pause and its end", lambda: re.search(
            r"state mode=paused.*\n(.*\n)*.*state mode=lesson", Programs.read(self.programs.listen_log)))

    def test_a_slot_in_the_week_view_runs_and_offers_until_the_end_of_the_lesson_and_overlaps_are_refused(self):
        self.signed_in()
        self.add_link("古诗")
        self.find("#set-name").send_keys("语文\n")
        wait_for("the set is offered", lambda: self.all("#slot-set option"))
        for box in self.all(".slot-day"):
            box.click()
        self.browser.execute_script("$('slot-start').value = '00:00'; $('slot-end').value = '23:59';")
        self.find("#slot-save").click()
        wait_for("a slot on every day", lambda: len(self.all("#week .slot")) == 7)
        wait_for("the slot runs", lambda: self.find("#lesson-end-field").is_displayed())
        self.assertTrue(self.text_of("#lesson-text").startswith("正在上课：语文"))
        wait_for("the set is announced", lambda: "古诗" in self.programs.heard_names())

        self.find("#until-lesson-end").click()
        self.find(".mode[data-mode=paused]").click()
        wait_for("a pause until the slot's end", lambda: "lesson = " in self.state_file()
                 and "pause-until = 0\n" not in self.state_file())

        self.find("#slot-new").click()
        self.all(".slot-day")[2].click()
        self.browser.execute_script("$('slot-start').value = '10:00'; $('slot-end').value = '11:00';")
        self.find("#slot-save").click()
        wait_for("the overlap under the time", lambda: "时间重叠" in self.text_of("#slot-start-note"))

        self.all("#week .slot")[0].click()
        self.find("#slot-off").click()
        wait_for("the week switched off", lambda: len(self.all("#week .slot.off")) == 7)
        wait_for("nothing runs", lambda: not self.find("#lesson-end-field").is_displayed())
        wait_for("the pupils are free again", lambda: self.text_of("#mode-text").startswith("学生的屏幕现在：开放"))

    def test_a_bad_extra_host_shows_under_its_field_and_the_hosts_are_saved_with_a_set(self):
        self.signed_in()
        self.add_link("古诗")
        self.find("#hosts").send_keys("https://Login.School.cn/sso, cdn_bad")
        self.find("#home").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#hosts-note"))
        self.assertEqual(self.find("#hosts").get_attribute("value"), "login.school.cn cdn_bad")
        self.assertTrue(self.text_of("#hosts-note").startswith("“cdn_bad”不是网站名或 IP 地址"))
        self.find("#hosts").send_keys(Keys.CONTROL + "a")
        self.find("#hosts").send_keys("login.school.cn 10.0.0.5")
        self.find("#set-name").send_keys("周一\n")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all("#sets li"))
        self.publish()
        wait_for("the hosts on the air", lambda: "hosts = login.school.cn 10.0.0.5\n" in self.state_file())
        self.find("#hosts").send_keys(Keys.CONTROL + "a", Keys.DELETE)
        self.find("#sets .edit-set").click()
        self.answer()
        self.assertEqual(self.find("#hosts").get_attribute("value"), "login.school.cn 10.0.0.5")


class NothingIsLostTest(PageCase):
    def test_a_draft_survives_reloading_while_the_server_is_away_and_a_session_that_runs_out(self):
        self.signed_in()
        self.add_link("草稿")
        self.assertEqual(self.text_of("#bar-text"), "有未发布的修改")
        self.browser.execute_cdp_cmd("Network.enable", {})  # the page comes, its first look at the server does not
        self.browser.execute_cdp_cmd("Network.setBlockedURLs", {"urls": ["*/api/state*"]})
        self.browser.refresh()
        wait_for("why the page is empty", lambda: self.find("#start-problem").is_displayed())
        self.browser.execute_cdp_cmd("Network.setBlockedURLs", {"urls": []})
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all(".link-name"))
        self.assertFalse(self.find("#start-problem").is_displayed())
        self.assertEqual(self.find(".link-name").get_attribute("value"), "草稿")
        self.browser.delete_all_cookies()  # as if the session ran out
        self.find("#publish").click()
        self.answer()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#again").is_displayed())
        self.assertIn("您的修改已保留", self.text_of("#again"))
        self.find("#again-password").send_keys(PASSWORD + "\n")
        self.published_notice()
        self.assertEqual(self.published_names(), ["草稿"])


class PictureTest(PageCase):
    def test_a_picture_refused_is_cleared_and_the_reason_shown_beside_it(self):
        self.signed_in()
        row = self.add_link("图")
        cases = [(b"\0" * int(3.1 * 1048576), "图片太大（3.1 MB），请选 2 MB 以内的图片"),
                 (b"not a picture", "")]
        for content, reason in cases:
            path = os.path.join(self.work, "big.png")
            with open(path, "wb") as f:
                f.write(content)
            row.find_element(By.CSS_SELECTOR, ".link-file").send_keys(path)
            note = row.find_element(By.CSS_SELECTOR, ".upload-note")
            WebDriverWait(self.browser, WAIT).until(lambda b: "error" in note.get_attribute("class"))
            self.assertIn(reason, note.text)
            self.assertEqual(row.find_element(By.CSS_SELECTOR, ".link-file").get_attribute("value"), "")
        self.assertNotIn("413 for", Programs.read(self.programs.publish_log))

    def test_the_preview_shows_the_catalogues_own_pictures_and_says_when_there_is_none(self):
        with open(os.path.join(self.programs.state, "pictures", "yuwen.bmp"), "wb") as f:
            f.write(bmp24((200, 30, 30)))
        with open(os.path.join(self.work, "nothing-on-air.ini"), "w", encoding="utf-8") as f:
            f.write("[link]\nname = 语文\npicture = %syuwen.bmp\n[link]\nname = 科学实验与探究\n" % self.programs.picture_url)
        self.signed_in()
        wait_for("the catalogue's picture", lambda: self.all("#preview .button:first-child canvas"))
        self.assertEqual(self.all("#preview .button")[1].find_element(By.CSS_SELECTOR, ".no-picture").text, "无图片")
        self.assertIn("「科学实验与探究」较长", self.text_of("#preview-hint"))


class RoomViewTest(PageCase):
    """The 教室 view: what the screens in the room report to the signing
    announcer, as its summary in the on-air folder says."""
    room = True
    listens = False

    def report(self, source, name, host=""):
        """A pupil machine at `source` that never took the links reports: a
        frame of type 0xCA, its 256-byte payload, CRC-16/CCITT-FALSE."""
        field = lambda text, size: text.encode("utf-8").ljust(size, b"\0")
        payload = (b"KRP1\0\2" + struct.pack("<H", self.programs.channel) + bytes(24) + field(name, 64)
                   + field("pupil", 32) + field(host, 96) + field(VERSION, 32))
        checked = b"\xca" + bytes(7) + struct.pack("<I", len(payload)) + payload
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind((source, 0))
            s.sendto(b"\xfe" * 4 + struct.pack("<H", binascii.crc_hqx(checked, 0xFFFF)) + checked,
                     ("127.0.0.1", self.programs.report_port))

    def rows(self):
        """The machines' rows, read in one step, as they are drawn anew every second."""
        return self.browser.execute_script(
            "return [...document.querySelectorAll('#room-machines tr')].map((r) => [...r.cells].map((c) => c.innerText))")

    @unittest.skipUnless(BROWSER, "no browser program given")
    def test_a_real_browser_that_took_the_change_and_a_stale_machine_show_as_1_of_2_the_stale_one_first(self):
        self.signed_in()
        self.add_link("古诗", url="http://127.0.0.1/gushi")
        self.find("#home").send_keys("http://127.0.0.1:%d/" % self.programs.picture_port)
        self.publish()
        self.start_browser()
        self.find(".view[data-view=room]").click()
        rows = [["● 未更新", "pc-stale", "127.0.0.2", "pupil", "games.example\n不在本课网站", "开放"],
                ["● 已更新", socket.gethostname(), "127.0.0.1", pwd.getpwuid(os.geteuid()).pw_name, "127.0.0.1", "开放"]]
        def stale_reports_until_shown():
            self.report("127.0.0.2", "pc-stale", "games.example")
            time.sleep(1.1)  # one report a second from each address is taken
            return self.text_of("#room-count") == "1/2 台已更新" and self.rows() == rows
        wait_for("1/2 in the room view, the browser on its home page", stale_reports_until_shown, 60)
        self.assertEqual(self.text_of(".view[data-view=room]"), "教室 1/2")
        for width, height in ((1280, 800), (768, 1024)):
            self.view_size(width, height)
            self.assertEqual(self.browser.execute_script(LAYOUT_SCRIPT + "return smallTargets()"), [], width)
            self.assertEqual(self.browser.execute_script(LAYOUT_SCRIPT + "return lowContrast()"), [], width)

    def test_before_any_report_the_view_says_so_and_a_machine_name_holding_markup_shows_as_text(self):
        self.signed_in()
        self.find(".view[data-view=room]").click()
        wait_for("no report yet", lambda: "还没有" in self.text_of("#room-why") + self.text_of("#room-count"))
        name = '<img src=x onerror="window.injected=1">'
        self.report("127.0.0.3", name)
        wait_for("the machine", lambda: self.rows())
        self.assertEqual(self.rows()[0][1], name)
        self.assertEqual(self.all("#room img"), [])
        self.assertIsNone(self.browser.execute_script("return window.injected"))


class RoomsTest(PageCase):
    """Rooms from rooms.ini: each teacher sees only their own, and an admin
    the wall of every room's view."""
    rooms = True
    listens = False

    def publish_status(self, room):
        return self.fetch_status(
            "fetch('/api/publish', {method: 'POST', headers: {'X-CSRF-Token': csrf, 'Content-Type': "
            "'application/json'}, body: JSON.stringify({room: '%s', home: '', links: [{name: 'x'}]})})" % room)

    def test_a_teacher_with_one_room_sees_only_it_and_a_publish_for_another_room_is_refused(self):
        self.signed_in("bo")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#room-name") == "三年二班")
        self.assertFalse(self.find("#room-pick").is_displayed())
        self.assertFalse(self.find("#wall-button").is_displayed())
        self.assertNotIn("三年三班", self.browser.execute_script("return document.body.textContent"))
        self.assertEqual(self.publish_status("r303"), 403)
        rooms = os.path.join(self.programs.state, "rooms")
        self.assertFalse(os.path.exists(os.path.join(rooms, "r303", "catalogue.ini")))
        self.assertEqual(self.publish_status("r302"), 200)
        self.assertTrue(os.path.exists(os.path.join(rooms, "r302", "catalogue.ini")))

    def test_an_admin_sees_every_room_on_the_wall_the_stale_room_first(self):
        for room, applied in (("r302", 28), ("r303", 27)):
            folder = os.path.join(self.programs.on_air, "rooms", room)
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "room.json"), "w") as f:
                json.dump({"written": int(time.time()), "counts": {"machines": 28, "applied": applied},
                           "machines": []}, f)
        self.signed_in("it")
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#wall-button").is_displayed())
        self.assertTrue(self.find("#room-pick").is_displayed())
        self.find("#wall-button").click()
        tiles = lambda: [tile.text.split("\n") for tile in self.all("#wall-rooms .wall-room")]
        WebDriverWait(self.browser, WAIT).until(lambda b: len(tiles()) == 2)
        self.assertEqual([tile[:2] for tile in tiles()], [["三年三班", "27/28"], ["三年二班", "28/28"]])


class LayoutAndKeyboardTest(PageCase):
    def test_publish_is_on_screen_targets_are_44_pixels_and_texts_have_contrast(self):
        self.signed_in()
        for i in range(12):
            self.add_link("第%d课" % i)
        self.find("#add").click()
        self.find("#publish").click()  # the nameless link's mistake shows in red
        for width, height in ((1280, 800), (768, 1024)):
            self.view_size(width, height)
            self.browser.execute_script("scrollTo(0, document.body.scrollHeight)")
            self.assertTrue(self.browser.execute_script(LAYOUT_SCRIPT + "return onScreen('#publish')"), width)
            self.assertEqual(self.browser.execute_script(LAYOUT_SCRIPT + "return smallTargets()"), [], width)
            self.assertEqual(self.browser.execute_script(LAYOUT_SCRIPT + "return lowContrast()"), [], width)

    def test_the_main_flow_works_with_the_keyboard_alone(self):
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#signin").is_displayed())
        self.press("anna", Keys.TAB, PASSWORD, Keys.ENTER)
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#editor").is_displayed())
        tabs = self.tab_to(lambda e: e.get_attribute("id") == "publish")
        print("publish_page: 发布 is %d Tab presses after signing in" % tabs)
        self.assertLessEqual(tabs, 3)
        for name in ("一", "二"):
            self.tab_to(lambda e: e.get_attribute("id") == "add")
            self.press(Keys.ENTER, name, Keys.TAB, Keys.TAB, "www.example.com/" + name)
        self.tab_to(lambda e: e == self.all("#links .up")[1], Keys.SHIFT + Keys.TAB)
        self.press(Keys.ENTER)
        self.assertEqual(self.browser.switch_to.active_element, self.all("#links .down")[0])
        self.assertEqual(self.browser.execute_script("return document.getElementById('moved').textContent"),
                         "已移到第 1 个")
        self.tab_to(lambda e: e == self.all(".link-url")[0], Keys.SHIFT + Keys.TAB)
        self.press(Keys.ENTER)
        self.assertEqual(self.browser.switch_to.active_element, self.find("#ask-yes"))
        self.press(Keys.ENTER)
        self.published_notice()
        self.assertEqual(self.published_names(), ["二", "一"])

    def tab_to(self, reached, key=Keys.TAB):
        """Presses `key` until the focused element is reached; returns how often."""
        for presses in range(60):
            if reached(self.browser.switch_to.active_element):
                return presses
            self.press(key)
        raise AssertionError("not reached with 60 key presses")


# Whether an element is in the view; visible controls smaller than 44 px;
# texts with less than 4.5:1 contrast against what lies behind them.
LAYOUT_SCRIPT = """
const onScreen = (s) => { const r = document.querySelector(s).getBoundingClientRect();
  return r.top >= 0 && r.bottom <= innerHeight && r.left >= 0 && r.right <= innerWidth; };
const shown = (e) => e.getClientRects().length && getComputedStyle(e).visibility !== 'hidden';
const smallTargets = () => [...document.querySelectorAll('button, input:not([type=file]), summary, .file-button')]
  .filter(shown).filter((e) => { const r = e.getBoundingClientRect(); return r.width < 44 || r.height < 44; })
  .map((e) => e.outerHTML.slice(0, 80));
const rgb = (c) => c.match(/[\\d.]+/g).map(Number);
const luminance = (c) => { const [r, g, b] = rgb(c).slice(0, 3).map((v) => { v /= 255;
  return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); }); return 0.2126 * r + 0.7152 * g + 0.0722 * b; };
const behind = (e) => { for (; e; e = e.parentElement) { const c = getComputedStyle(e).backgroundColor;
  if (rgb(c)[3] !== 0) return c; } return 'rgb(255, 255, 255)'; };
const lowContrast = () => [...document.querySelectorAll('#editor *, .top *')].filter(shown)
  .filter((e) => [...e.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim()))
  .filter((e) => { const a = luminance(getComputedStyle(e).color), b = luminance(behind(e));
    return (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05) < 4.5; }).map((e) => e.outerHTML.slice(0, 80));
"""


def x_display():
    """Xvfb on a free display; returns (display, process)."""
    for number in range(150, 200):
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        process = subprocess.Popen(["Xvfb", ":%d" % number, "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for("Xvfb starts", lambda: os.path.exists("/tmp/.X11-unix/X%d" % number) or process.poll() is not None, 10)
        except AssertionError:
            pass
        if process.poll() is None and os.path.exists("/tmp/.X11-unix/X%d" % number):
            return ":%d" % number, process
        process.kill()
        process.wait()
    raise AssertionError("no free X display")


def colour_pixels(display, colour):
    """Pixels of exactly `colour` ("#RRGGBB") on the display."""
    shot = subprocess.run(["import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"],
                          capture_output=True, timeout=WAIT).stdout
    target = bytes.fromhex(colour[1:])
    return sum(1 for i in range(0, len(shot) - 2, 3) if shot[i:i + 3] == target)


@unittest.skipUnless(BROWSER, "no browser program given")
class BrowserShowsPublishTest(PageCase):
    """The built browser hears the publish and shows the new button."""
    listens = False

    def test_a_publish_shows_the_new_button_within_5_seconds(self):
        self.signed_in()
        self.add_link("首页前")
        self.find("#home").send_keys("http://127.0.0.1:%d/" % self.programs.picture_port)
        self.publish()
        display = self.start_browser()
        time.sleep(8)  # the window is up and has its first catalogue
        row = self.add_link("新课", "", "http://127.0.0.1/new")
        self.upload(row, png(24, 24, (0x1E, 0x46, 0xC8, 255)))
        self.assertEqual(colour_pixels(display, "#1E46C8"), 0)
        self.find("#publish").click()
        started = time.monotonic()
        self.answer()
        try:
            wait_for("the new button on the toolbar", lambda: colour_pixels(display, "#1E46C8") >= 128, 5)
        except AssertionError:
            subprocess.run(["import", "-display", display, "-window", "root",
                            os.path.join(tempfile.gettempdir(), "publish-page-toolbar.png")], timeout=WAIT)
            raise AssertionError("the new button was not on the toolbar 5 s after 发布 (screenshot "
                                 + os.path.join(tempfile.gettempdir(), "publish-page-toolbar.png") + "); browser:\n"
                                 + Programs.read(os.path.join(self.work, "browser.log"))[-3000:]
                                 + "\nannouncer:\n" + Programs.read(self.programs.announce_log)[-2000:])
        elapsed = time.monotonic() - started
        print("publish_page: the new button showed %.2f s after 发布 was clicked" % elapsed)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[4:])
