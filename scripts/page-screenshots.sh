#!/usr/bin/env bash
# Photographs every view of the teachers' publishing page in Debian's
# Chromium, at 1280 x 800 (a classroom PC) and 768 x 1024 (a tablet), so a
# change can be compared by eye. Not run in CI.
#   scripts/page-screenshots.sh [folder] [build folder]
# Prints the folder the pictures are in.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$(mktemp -d /tmp/kestrel-page-screenshots.XXXXXX)}
build=${2:-$top/build}
mkdir -p "$folder"
exec /usr/bin/python3 - "$build/publish/kestrel-publish" "$folder" <<'PYTHON'
import json, os, shutil, socket, struct, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

publish, folder = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="kestrel-page-shots-")
state = os.path.join(work, "state")
os.makedirs(os.path.join(state, "pictures"))

def bmp(rgb):
    """A 24 x 24 BMP of one colour, as the pupils' buttons take it."""
    pixels = bytes(reversed(rgb)) * 24 * 24
    return (b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, 24, 24, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels)

with open(os.path.join(state, "pictures", "yuwen.bmp"), "wb") as f:
    f.write(bmp((200, 40, 40)))
catalogue = os.path.join(work, "catalogue.ini")
with open(catalogue, "w", encoding="utf-8") as f:
    f.write("[home]\nurl = http://www.school.example/\n"
            "[link]\nname = 语文\ncaption = 古诗两首\nurl = http://yuwen.example/\n"
            "picture = http://127.0.0.1:8080/pictures/yuwen.bmp\n"
            "[link]\nname = 数学\nurl = http://shuxue.example/\npicture = http://127.0.0.1:8080/pictures/none.bmp\n"
            "[link]\nname = 科学实验与探究活动\nurl = http://kexue.example/\n")
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
users = os.path.join(work, "users")
subprocess.run([publish, "--add-user", "wang.li", "--users", users], input="correct horse\n", text=True,
               check=True, stdout=subprocess.DEVNULL)

def write_room():
    """A room of 28 screens as the announcer sums it up: one switched off,
    one still on the old links and version, one pupil off the lesson's sites."""
    machine = lambda n, **changes: dict({"address": "192.168.1.%d" % (100 + n), "name": "pc%02d" % n,
        "login": "xs%02d" % n, "applied": True, "mode": "open", "host": "yuwen.example", "heardAgo": 1,
        "offline": False, "version": "2.2", "withheld": False, "complete": True}, **changes)
    machines = [machine(7, applied=False, offline=True, heardAgo=41),
                machine(12, applied=False, version="2.1", host="shuxue.example"),
                machine(3, host="www.bilibili.com")] + [machine(n) for n in range(1, 29) if n not in (3, 7, 12)]
    with open(os.path.join(on_air, "room.json"), "w", encoding="utf-8") as f:
        json.dump({"port": 9000, "onAir": "0123456789abcdef", "written": int(time.time()), "version": "2.2",
                   "machines": machines}, f, ensure_ascii=False)

on_air = os.path.join(work, "on-air")
os.makedirs(on_air)

def start_server(size):
    """The page with a state folder of its own for each size."""
    folder = os.path.join(state, size)
    os.makedirs(folder)
    os.symlink(os.path.join(state, "pictures"), os.path.join(folder, "pictures"))
    return subprocess.Popen([publish, "--port", str(port), "--state", folder, "--users", users,
                             "--catalogue", catalogue, "--picture-url", "http://127.0.0.1:8080/pictures/",
                             "--school-name", "实验小学", "--on-air", on_air],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

server = None
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-proxy-server",
                 "--hide-scrollbars"):
    options.add_argument(argument)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
browser.implicitly_wait(5)
find = lambda selector: browser.find_element(By.CSS_SELECTOR, selector)
script = browser.execute_script

def shoot(size, view):
    time.sleep(0.4)
    browser.save_screenshot(os.path.join(folder, "%s-%s.png" % (view, size)))

try:
    for width, height in ((1280, 800), (768, 1024)):
        size = "%dx%d" % (width, height)
        if server:
            server.terminate()
            server.wait()
        server = start_server(size)
        time.sleep(0.5)
        browser.set_window_size(width, height)
        # The window's outer size holds the browser's frame: make the page's own view the size.
        inner = script("return [window.innerWidth, window.innerHeight]")
        browser.set_window_size(2 * width - inner[0], 2 * height - inner[1])
        browser.delete_all_cookies()
        browser.get("http://127.0.0.1:%d/" % port)
        script("localStorage.clear()")
        browser.refresh()
        shoot(size, "1-sign-in")
        find("#user").send_keys("wang.li")
        find("#password").send_keys("correct horse\n")
        find("#editor .link-name")
        shoot(size, "2-editor")
        find("#add").click()
        find("#links .link:last-child .link-url").send_keys("baidu.com")
        find("#publish").click()
        shoot(size, "3-mistakes")
        script("document.querySelector('#links .link:last-child .remove').click()")
        find(".link-name").send_keys("课")
        find("#publish").click()
        shoot(size, "4-confirm")
        find("#ask-yes").click()
        find("#notice:not([hidden])")
        shoot(size, "5-published-with-undo")
        find("#set-name").send_keys("三年级二班 周一\n")
        find("#sets li")
        script("document.getElementById('sets').scrollIntoView()")
        shoot(size, "6-sets-and-history")
        find("#history .view").click()
        shoot(size, "7-version")
        find("#version-close").click()
        browser.delete_all_cookies()
        find(".link-caption").send_keys("。")
        find("#again[open]")
        shoot(size, "8-signed-out-box")
        find("#again-password").send_keys("correct horse\n")
        time.sleep(0.5)
        write_room()
        find(".view[data-view=room]").click()
        time.sleep(1.2)  # the next look reads the summary just written
        shoot(size, "9-room")
        script("localStorage.clear()")
finally:
    browser.quit()
    if server:
        server.terminate()
        server.wait()
    shutil.rmtree(work, ignore_errors=True)
print(folder)
PYTHON
