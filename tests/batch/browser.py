"""Headless Chromium through Selenium, for the report's browser test and screenshot
tool: Debian's chromium and chromium-driver, driven by Debian's python3-selenium; the
test reads its screenshot with python3-pil."""
import shutil

CHROMIUM, CHROMEDRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"


def missing():
    """What is missing to drive a browser here, or None."""
    for module, package in (("selenium", "python3-selenium"), ("PIL", "python3-pil")):
        try:
            __import__(module)
        except ImportError:
            return f"{package} (Debian's package, for /usr/bin/python3)"
    for program in (CHROMIUM, CHROMEDRIVER):
        if shutil.which(program) is None:
            return program
    return None


def start_chromium(profile_dir, width=1400, height=900, scripts=True):
    """A new headless Chromium with its own empty profile: no network of its own (the
    machine has none), the page's console messages kept for get_log("browser")."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-quic", "--hide-scrollbars", f"--user-data-dir={profile_dir}",
                 f"--window-size={width},{height}"):
        options.add_argument(flag)
    if not scripts:
        options.add_experimental_option("prefs", {"profile.managed_default_content_settings.javascript": 2})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
