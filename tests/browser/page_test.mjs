// Drives the web page in headless chromium: sign in, open a provider, read
// bills through the statement box and page through them, run the day
// report. Usage: node page_test.mjs URL CHROMIUM [SCREENSHOT_DIR]
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import puppeteer from "puppeteer-core";

const [url, chromium, shots] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), "qz-chromium-"));
const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         `--user-data-dir=${profile}`],
});

function check(ok, what) {
  if (!ok) throw new Error("failed: " + what);
  console.log("ok: " + what);
}
const text = (page, sel) => page.$eval(sel, (e) => e.textContent);
const shot = async (page, name) => {
  if (shots) await page.screenshot({ path: join(shots, name), fullPage: true });
};

try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1100, height: 800 });
  await page.goto(url, { waitUntil: "load" });
  await shot(page, "web-login.png");
  await page.click("#loginBtn");
  await page.waitForSelector("#providerList li", { timeout: 15000 });
  const names = await page.$$eval("#providerList a", (as) => as.map((a) => a.textContent));
  check(names.includes("DayRptP") && names.includes("SqlProvider"), "provider list after login");

  // A provider from the list: its columns are shown.
  const billP = (await page.$$("#providerList a"))[names.indexOf("billP")];
  await billP.click();
  await page.waitForFunction(() => document.querySelector("#dataTitle").textContent === "billP");
  check((await page.$$("#dataTable th")).length > 3, "billP read into the table");

  // The statement box, and paging through the rows.
  await page.$eval("#stmtText", (e) => { e.value = "select num, cltname, ndate from bills order by num"; });
  await page.click("#stmtBtn");
  await page.waitForFunction(() => document.querySelector("#dataTitle").textContent === "SqlProvider"
                             && document.querySelector("#pageInfo").textContent.startsWith("第 1 /"));
  const info = await text(page, "#pageInfo");
  const total = Number(info.match(/共 (\d+) 行/)[1]);
  check(total > 50, `statement read ${total} bills`);
  const firstPage = await text(page, "#dataTable tr:nth-child(2) td");
  await page.click("#nextBtn");
  await page.waitForFunction(() => document.querySelector("#pageInfo").textContent.startsWith("第 2 /"));
  check((await text(page, "#dataTable tr:nth-child(2) td")) !== firstPage, "next page shows other rows");
  await shot(page, "web-table.png");

  // The day report over a wide date range.
  await page.$eval("#fdate", (e) => { e.value = "2000-01-01"; });
  await page.$eval("#tdate", (e) => { e.value = "2099-12-31"; });
  await page.click("#reportBtn");
  await page.waitForFunction(() => document.querySelectorAll("#reportTable tr").length === 2
                             || document.querySelector("#error").textContent !== "", { timeout: 15000 });
  check((await text(page, "#error")) === "", "day report without error");
  const heads = await page.$$eval("#reportTable th", (ths) => ths.map((t) => t.textContent));
  check(heads.includes("@billcont"), "day report shows its totals");
  await shot(page, "web-report.png");
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
