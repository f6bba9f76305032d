"""The panel's page in headless Chromium against korvax-sim chassis: clicking a cell switches the chassis,
a rule's refusal is shown and switches nothing, routes switch break before make, changes made by other
processes show within a second, and a screenshot of the RQ521 grid with a route applied is written.

Run as a program: exits 77 (skipped) when Chromium, its driver or Selenium are not installed."""
import os
import sys
from pathlib import Path

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def missing() -> str:
    for path, package in [(CHROMIUM, "chromium"), (CHROMEDRIVER, "chromium-driver")]:
        if not os.access(path, os.X_OK):
            return f"{path} is not installed (apt-get install {package})"
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "Selenium is not installed (apt-get install python3-selenium)"
    return ""


if __name__ == "__main__":
    why = missing()
    if why:
        print(f"SKIP: {why}")
        sys.exit(77)
    import pytest
    sys.exit(pytest.main(["-q", "-p", "no:cacheprovider", __file__]))

import pytest  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402


SHOTS = Path(os.environ.get("KORVAX_PANEL_SHOTS", "panel-screenshots"))


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1280,1000",
                     f"--user-data-dir={tmp_path_factory.mktemp('chromium')}"]:
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    try:
        yield driver
    finally:
        driver.quit()


def until(driver, condition, seconds: float = 10, what: str = ""):
    return WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda d: condition(), message=what)


def cell(driver, crosspoint: str):
    return driver.find_element(By.CSS_SELECTOR, f'td[data-crosspoint="{crosspoint}"]')


def states(driver) -> dict:
    """Crosspoint -> state of every cell drawn, read in one go."""
    return driver.execute_script(
        "const s = {}; for (const td of document.querySelectorAll('td[data-crosspoint]'))"
        " s[td.dataset.crosspoint] = td.dataset.state; return s;")


def closed(driver) -> list:
    return sorted(x for x, s in states(driver).items() if s == "closed")


def alert(driver) -> str:
    return driver.find_element(By.CSS_SELECTOR, '[role="alert"]').text


def open_bench(sim, panel, driver):
    assert panel.request("POST", "/api/chassis/bench/disconnect", {"all": True})[0] == 200
    driver.get(panel.url + "/#bench")
    until(driver, lambda: driver.execute_script("return document.body.dataset.live") == "true", what="not live")
    until(driver, lambda: len(states(driver)) == 10 * 48 and closed(driver) == [], what="grid not drawn")


def test_a_click_closes_and_opens_a_crosspoint(sim, panel, browser):
    open_bench(sim, panel, browser)
    frames = len(sim.relays("bench"))
    cell(browser, "1!1").click()
    until(browser, lambda: cell(browser, "1!1").get_attribute("data-state") == "closed")
    sim.wait_for(lambda: len(sim.relays("bench")) == frames + 1)
    assert sim.relays("bench")[-1] == "1!1"
    cell(browser, "1!1").click()
    until(browser, lambda: cell(browser, "1!1").get_attribute("data-state") == "open")
    sim.wait_for(lambda: len(sim.relays("bench")) == frames + 2)
    assert sim.relays("bench")[-1] == "none"
    assert alert(browser) == ""


def test_a_refusal_is_shown_and_switches_nothing(sim, panel, browser):
    open_bench(sim, panel, browser)
    cell(browser, "3!1").click()  # PSU_POS - DUT1
    until(browser, lambda: closed(browser) == ["3!1"])
    frames = len(sim.relays("bench"))
    cell(browser, "4!1").click()  # PSU_NEG - DUT1: an exclusion forbids it
    until(browser, lambda: alert(browser) != "", what="no refusal shown")
    assert "excluded" in alert(browser) and "PSU_NEG" in alert(browser)
    assert closed(browser) == ["3!1"]
    assert len(sim.relays("bench")) == frames


def test_route_buttons_add_or_apply_alone_break_before_make(sim, panel, browser):
    open_bench(sim, panel, browser)
    frames = len(sim.relays("bench"))
    browser.find_element(By.CSS_SELECTOR, '[data-route="power_dut3"]').click()
    until(browser, lambda: closed(browser) == ["3!3", "4!4"])
    # A preview says what would open, then close, and switches nothing.
    browser.find_element(By.CSS_SELECTOR, '#alone').click()
    browser.find_element(By.CSS_SELECTOR, '[data-route-preview="measure_dut1"]').click()
    preview = browser.find_element(By.ID, "preview")
    until(browser, lambda: "closes" in preview.text)
    assert "first opens 3!3 4!4, then closes 1!1 2!2" in preview.text
    browser.find_element(By.CSS_SELECTOR, '[data-route="measure_dut1"]').click()
    until(browser, lambda: closed(browser) == ["1!1", "2!2"])
    sim.wait_for(lambda: len(sim.relays("bench")) == frames + 3)
    # Added in one frame; then alone: the opening frame before the closing one.
    assert sim.relays("bench")[frames:] == ["3!3 4!4", "none", "1!1 2!2"]
    until(browser, lambda: browser.find_element(By.CSS_SELECTOR, '[data-route="measure_dut1"]')
          .get_attribute("aria-pressed") == "true")
    browser.find_element(By.CSS_SELECTOR, '#alone').click()


def test_a_change_by_another_process_shows_within_a_second(sim, panel, browser):
    open_bench(sim, panel, browser)
    run = sim.korvax("--chassis", "bench", "connect", "DMM_LO", "DUT5")
    assert run.returncode == 0, run.stderr
    until(browser, lambda: closed(browser) == ["2!5"], seconds=1, what="the change did not show within a second")


def test_open_all_asks_first(sim, panel, browser):
    open_bench(sim, panel, browser)
    cell(browser, "2!6").click()
    until(browser, lambda: closed(browser) == ["2!6"])
    browser.find_element(By.ID, "open-all").click()
    confirm = browser.find_element(By.ID, "open-all-confirm")
    assert confirm.is_displayed() and "bench" in confirm.text
    browser.find_element(By.ID, "open-all-no").click()
    assert closed(browser) == ["2!6"]
    browser.find_element(By.ID, "open-all").click()
    browser.find_element(By.ID, "open-all-yes").click()
    until(browser, lambda: closed(browser) == [])
    assert sim.relays("bench")[-1] == "none"


def test_a_large_chassis_is_shown_a_card_at_a_time(sim, panel, browser):
    assert panel.request("POST", "/api/routes/scope_far", {"on": True})[0] == 200
    browser.get(panel.url + "/#big")
    until(browser, lambda: len(states(browser)) == 4 * 96, what="not one card of the RQ522 at a time")
    pages = browser.find_elements(By.CSS_SELECTOR, "#page option")
    assert len(pages) == 21
    target = next(i for i, o in enumerate(pages) if "1 closed" in o.text)
    pages[target].click()
    until(browser, lambda: closed(browser) == ["1!2000"])


def test_a_screenshot_of_the_rq521_grid_with_a_route_applied(sim, panel, browser):
    open_bench(sim, panel, browser)
    assert panel.request("POST", "/api/routes/power_dut3", {"on": True})[0] == 200
    until(browser, lambda: closed(browser) == ["3!3", "4!4"])
    # With a preview of another route applied alone: what would open, then close.
    browser.find_element(By.CSS_SELECTOR, "#alone").click()
    browser.find_element(By.CSS_SELECTOR, '[data-route-preview="measure_dut1"]').click()
    until(browser, lambda: "closes" in browser.find_element(By.ID, "preview").text)
    assert len(browser.find_elements(By.CSS_SELECTOR, "td.will-open")) == 2
    assert len(browser.find_elements(By.CSS_SELECTOR, "td.will-close")) == 2
    SHOTS.mkdir(parents=True, exist_ok=True)
    shot = SHOTS / "panel-rq521.png"
    assert browser.save_screenshot(str(shot))
    assert shot.stat().st_size > 10000
    browser.find_element(By.CSS_SELECTOR, "#alone").click()
