"""The web console in a real browser (headless Chromium through Selenium): the soundboard
plays to a loopback receiver, a background playlist starts and stops, a text typed into the
announce box arrives as speech, the site's status follows without a reload, and the page
fits a phone's screen.
    console_test.py SONVEX_CLI [--screenshots FOLDER]"""

import os
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from sitefixture import Receiver, Site, espeak_seconds


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1280,900"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def main():
    shots = sys.argv[sys.argv.index("--screenshots") + 1] if "--screenshots" in sys.argv else None
    site = Site(sys.argv[1])
    bell, music, hall = Receiver(), Receiver(), Receiver()
    profile = tempfile.mkdtemp(prefix="sonvex-chromium-")
    driver = None
    try:
        tone = os.path.join(site.audio, "tone.wav")
        for name, rx in (("Bell", bell), ("Music", music)):
            site.run("create", name)
            site.run("add-file", name, tone)
            site.run("add-dest", name, "127.0.0.1", str(rx.port))
        site.run("set", "Bell", "--role", "announcement", "--priority", "60")
        site.run("zone", "create", "Hall")
        site.run("zone", "add-dest", "Hall", "127.0.0.1", str(hall.port))
        site.run("schedule", "add", "Bell", "*-*-* 12:30", "--say", "Lunch is served")
        site.serve()
        driver = browser(profile)
        wait = WebDriverWait(driver, 10)
        driver.get(site.url("/"))

        button = wait.until(lambda d: d.find_element(By.CSS_SELECTOR, "#board button[data-playlist='Bell']"))
        check("p-mid" in button.get_attribute("class"), "the priority's colour is missing")
        wait.until(lambda d: "Lunch is served" in d.find_element(By.ID, "schedule").text)
        button.click()
        check(bell.wait_for(20, 5), "the soundboard's button sent nothing")
        # The page follows the server without a reload: the destination shows what plays.
        wait.until(lambda d: "Bell" in d.find_element(By.ID, "site").text)
        wait.until(lambda d: "started playlist Bell" in d.find_element(By.ID, "log").text)
        check(bell.wait_quiet(0.5, 10), "the announcement did not end")
        wait.until(lambda d: "finished playlist Bell" in d.find_element(By.ID, "log").text)

        # By keyboard: the focus stays on the button while the page follows the server.
        driver.execute_script("document.querySelector(\"#background button[data-playlist='Music']\").focus()")
        driver.switch_to.active_element.send_keys(Keys.ENTER)
        check(music.wait_for(20, 5), "the background playlist did not start")
        stop = wait.until(lambda d: d.find_element(
            By.XPATH, "//ul[@id='background']//button[@data-playlist='Music' and text()='Stop']"))
        if shots:
            driver.save_screenshot(os.path.join(shots, "console.png"))
        check(driver.switch_to.active_element.get_attribute("data-playlist") == "Music",
              "the focus left the button when the page was drawn again")
        stop.click()
        check(music.wait_quiet(0.5, 5), "the background playlist did not stop")

        text = "Attention please. The car park closes at six."
        Select(driver.find_element(By.ID, "say-to")).select_by_value("zone:Hall")
        driver.find_element(By.ID, "say-text").send_keys(text)
        driver.find_element(By.ID, "say-button").click()
        wait.until(lambda d: "Saying" in d.find_element(By.ID, "say-result").text)
        check(hall.wait_quiet(0.5, 30), "no speech arrived")
        heard = len(hall.packets) * 0.020
        spoken = espeak_seconds(text, site.work)
        check(abs(heard - spoken) <= 0.10 * spoken and hall.payload_rms() > 300,
              f"speech of {heard:.2f} s at RMS {hall.payload_rms():.0f} against {spoken:.2f} s")
        print(f"console_test: speech {heard:.2f} s at the receiver, {spoken:.2f} s from espeak-ng")

        driver.set_window_size(390, 844)  # a phone
        time.sleep(0.5)
        wide = driver.execute_script("return document.documentElement.scrollWidth > window.innerWidth")
        check(not wide, "the page is wider than a phone's screen")
        if shots:
            driver.save_screenshot(os.path.join(shots, "console-phone.png"))
    finally:
        if driver is not None:
            driver.quit()
        for rx in (bell, music, hall):
            rx.close()
        site.close()
        subprocess.run(["rm", "-rf", profile])
    print("console_test: passed")


if __name__ == "__main__":
    main()
