#!/usr/bin/python3
"""The publishing page in Debian's Chromium, driven through Selenium, with
the real announcer publishing what the page writes and a listener hearing
it; every address is 127.0.0.1.

  publish_page_test.py PUBLISH ANNOUNCER [BROWSER [TEST...]]

With BROWSER (the built kestrel), the end-to-end case runs too: a publish
from the page puts the new button on the browser's toolbar, on a private X
display, within 5 seconds.
"""
import http.client
import json
import os
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
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("publish_page: python3-selenium is missing (scripts/setup.sh installs it)")
    sys.exit(77)

PUBLISH, ANNOUNCER = sys.argv[1], sys.argv[2]
BROWSER = sys.argv[3] if len(sys.argv) > 3 else ""
PASSWORD = "correct horse"
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

    def __init__(self, work, listen, interval="0.5"):
        self.work = work
        self.state = os.path.join(work, "state")
        self.users = os.path.join(work, "users")
        self.port = free_port()
        self.picture_port = free_port()
        self.channel = free_port(socket.SOCK_DGRAM)
        self.origin = "http://127.0.0.1:%d" % self.port
        self.processes = []
        subprocess.run([PUBLISH, "--add-user", "anna", "--users", self.users], input=PASSWORD + "\n",
                       text=True, check=True, stdout=subprocess.DEVNULL)
        self.publish_log = self.start("publish", [PUBLISH, "--port", str(self.port), "--state", self.state,
                                                  "--users", self.users,
                                                  "--catalogue", os.path.join(work, "nothing-on-air.ini"),
                                                  "--picture-url",
                                                  "http://127.0.0.1:%d/pictures/" % self.picture_port])
        wait_for("the page listens", lambda: "publishing page on" in self.read(self.publish_log))
        os.makedirs(os.path.join(self.state, "pictures"), exist_ok=True)
        self.announce_log = self.start("announce", [
            ANNOUNCER, "--to", "127.0.0.1", "--port", str(self.channel), "--interval", interval,
            "--serve-at", "/pictures/=" + os.path.join(self.state, "pictures"), "--http-address", "127.0.0.1",
            "--http-port", str(self.picture_port), "--published", os.path.join(self.state, "catalogue.ini")])
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

    def setUp(self):
        if not shutil.which("chromedriver") or not os.path.exists("/usr/bin/chromium"):
            self.skipTest("chromium and chromium-driver are not installed")
        self.work = tempfile.mkdtemp(prefix="kestrel-publish-page-")
        self.programs = Programs(self.work, self.listens)
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

    def sign_in(self, password=PASSWORD):
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#signin").is_displayed())
        self.find("#user").clear()
        self.find("#user").send_keys("anna")
        self.find("#password").send_keys(password)
        self.find("#signin-button").click()

    def signed_in(self):
        self.sign_in()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.find("#editor").is_displayed())

    def add_link(self, name, caption="", url="http://127.0.0.1/lesson"):
        self.find("#add").click()
        row = self.all("#links .link")[-1]
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

    def publish(self):
        self.find("#publish").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.text_of("#published") == "已发布"
                                                or self.text_of("#problem"))
        self.assertEqual(self.text_of("#problem"), "")

    def published_names(self):
        with open(os.path.join(self.programs.state, "catalogue.ini"), encoding="utf-8") as f:
            return re.findall(r"^name = (.*)$", f.read(), re.M)

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
        self.assertEqual(button.text, "<b>粗</b>")
        self.assertEqual(self.all("#preview b"), [])
        self.assertEqual(self.find(".link-caption").get_attribute("value"), caption)
        self.assertIsNone(self.browser.execute_script("return window.injected"))


class PublishTest(PageCase):
    def test_checks_as_the_teacher_types_name_the_problem_in_chinese(self):
        self.signed_in()
        self.add_link("语文")
        row = self.add_link("Yuwen")
        name = row.find_element(By.CSS_SELECTOR, ".link-name")
        name.clear()
        name.send_keys("HOME")
        WebDriverWait(self.browser, WAIT).until(lambda b: "home" in self.text_of("#problem"))
        name.clear()
        name.send_keys("语" * 64)
        WebDriverWait(self.browser, WAIT).until(lambda b: "文字太长" in self.text_of("#problem"))
        name.clear()
        name.send_keys("笑\U0001F600")  # no GBK form: only the server can tell
        WebDriverWait(self.browser, WAIT).until(lambda b: "GBK" in self.text_of("#problem"))
        self.assertIn("第 2 个链接", self.text_of("#problem"))

    def test_a_link_with_an_uploaded_png_reordered_and_published_is_heard_in_the_new_order(self):
        self.signed_in()
        self.add_link("数学", "第一课", "http://127.0.0.1/shuxue")
        row = self.add_link("语文", "第二课", "http://127.0.0.1/yuwen")
        self.upload(row, png(60, 40, (200, 30, 30, 255)))
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
        preview = [button.text for button in self.all("#preview .button")]
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

    def test_an_earlier_version_is_published_again_from_the_history(self):
        self.signed_in()
        self.add_link("第一版")
        self.publish()
        self.find(".link-name").clear()
        self.find(".link-name").send_keys("第二版")
        self.publish()
        self.assertEqual(self.published_names(), ["第二版"])
        entries = self.all("#history li")
        self.assertEqual(len(entries), 2)
        self.assertIn("anna", entries[1].text)
        entries[1].find_element(By.CSS_SELECTOR, ".republish").click()
        wait_for("the first version is published again", lambda: self.published_names() == ["第一版"])
        WebDriverWait(self.browser, WAIT).until(lambda b: len(self.all("#history li")) == 3)
        self.assertEqual(self.find(".link-name").get_attribute("value"), "第一版")

    def test_a_saved_lesson_set_is_published_in_one_click(self):
        self.signed_in()
        self.add_link("古诗")
        self.find("#set-name").send_keys("语文第三课")
        self.find("#save-set").click()
        WebDriverWait(self.browser, WAIT).until(lambda b: self.all("#sets li"))
        self.find(".link-name").clear()
        self.find(".link-name").send_keys("别的")
        self.publish()
        self.find("#sets .publish-set").click()
        wait_for("the lesson set is published", lambda: self.published_names() == ["古诗"])


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
        for tool in ("Xvfb", "import", "iconv"):
            if not shutil.which(tool):
                self.fail(tool + " is missing (scripts/setup.sh installs it)")
        self.signed_in()
        self.add_link("首页前")
        self.find("#home").send_keys("http://127.0.0.1:%d/" % self.programs.picture_port)
        self.publish()
        display, xvfb = x_display()
        program = None
        try:
            program = self.start_browser(display)
            time.sleep(8)  # the window is up and has its first catalogue
            row = self.add_link("新课", "", "http://127.0.0.1/new")
            self.upload(row, png(24, 24, (0x1E, 0x46, 0xC8, 255)))
            self.assertEqual(colour_pixels(display, "#1E46C8"), 0)
            started = time.monotonic()
            self.find("#publish").click()
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
        finally:
            if program:
                os.killpg(program.pid, 15)
                program.wait(timeout=20)
            xvfb.kill()
            xvfb.wait()

    def start_browser(self, display):
        folder = os.path.join(self.work, "browser")
        os.makedirs(os.path.join(folder, "home"))
        os.makedirs(os.path.join(folder, "runtime"), mode=0o700)
        shutil.copy(BROWSER, os.path.join(folder, "kestrel"))
        settings = "[设置]\n主频道端口=%d\n[广播绑定IP地址]\nIP地址=127.0.0.1\n" % self.programs.channel
        with open(os.path.join(folder, "kestrel.INI"), "wb") as f:
            f.write(settings.encode("gbk"))
        environment = dict(os.environ, HOME=os.path.join(folder, "home"), DISPLAY=display,
                           XDG_RUNTIME_DIR=os.path.join(folder, "runtime"), QT_QPA_PLATFORM="xcb",
                           QTWEBENGINE_DISABLE_SANDBOX="1",
                           QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --disable-dev-shm-usage")
        with open(os.path.join(self.work, "browser.log"), "w") as log:
            return subprocess.Popen([os.path.join(folder, "kestrel")], cwd=os.path.join(folder, "home"),
                                    env=environment, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[4:])
