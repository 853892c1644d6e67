// The board in a real browser: Debian's chromium, driven by playwright-core, in front of
// lighttpd. A visitor types Japanese into the form and posts, sees the four characters and
// the record on the board page, is refused when posting again under the same name, is stopped
// without a name and refused for a character Shift_JIS lacks, and, once other visitors have
// filled a text page, pages through the text with the read page's links; names in all 32
// poster colours are legible on the board page. Every page passes axe-core's WCAG 2.1 A and AA
// rules and its best practices. Screenshots go to ZT_OUTPUT_DIR (test output, not the
// repository).
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { admin, ServedBoard } from './served-board.mjs';

let chromium;
try {
    ({ chromium } = await import('playwright-core'));
} catch {
    throw new Error('playwright-core is missing: run "npm ci" in tests/browser (tools/test does)');
}

const outputDir = process.env.ZT_OUTPUT_DIR ?? path.join(tmpdir(), 'zt-browser-output');
mkdirSync(outputDir, { recursive: true });

// Debian's chromium, never a browser of Playwright's own.
const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// Post i of the other visitors: four hiragana, as Shift_JIS bytes and as the page shows them.
// Shift_JIS 0x829F..0x82F1 are the hiragana U+3041..U+3093 in order.
function hiraganaUnit(i) {
    const bytes = [];
    let text = '';
    for (let j = 0; j < 4; j++) {
        const k = (4 * i + j) % 83;
        bytes.push(0x82, 0x9F + k);
        text += String.fromCodePoint(0x3041 + k);
    }
    return { bytes: Buffer.from(bytes), text };
}

const shot = (page, name) => page.screenshot({ path: path.join(outputDir, name), fullPage: true });

// axe-core, the accessibility engine most web teams run, on the page as it stands: no
// violation of the WCAG 2.1 A and AA rules or of its best practices (landmarks among them).
const AXE = createRequire(import.meta.url).resolve('axe-core/axe.min.js');
async function assertAccessible(page) {
    await page.addScriptTag({ path: AXE });
    const { violations } = await page.evaluate(() => axe.run(document, {
        runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'best-practice'] },
    }));
    assert.deepEqual(violations.map((v) => `${v.id} (${v.nodes.length}): ${v.help}; ${v.nodes[0].target}`), []);
}

test('a visitor posts, is refused, and reads the text page by page', async (t) => {
    const board = await ServedBoard.start();
    const profile = mkdtempSync(path.join(tmpdir(), 'zt-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM, headless: true, args: CHROMIUM_ARGS,
        viewport: { width: 900, height: 1000 },
    });
    t.after(async () => {
        await context.close();
        rmSync(profile, { recursive: true, force: true });
        await board.stop();
    });
    admin('theme', board.dir, '春の一日');
    const page = context.pages()[0] ?? await context.newPage();

    await t.test('the board page of a new board', async () => {
        await page.goto(board.url);
        assert.equal(await page.locator('#theme').textContent(), '春の一日');
        assert.equal(await page.locator('#left').textContent(), '256');
        assert.equal(await page.locator('input[name=prev]').inputValue(), '0');
        assert.equal(await page.evaluate(() => document.characterSet), 'Shift_JIS');
        await shot(page, 'board-new.png');
        await assertAccessible(page);
    });

    await t.test('full-width kana and kanji and half-width katakana, posted', async () => {
        await page.locator('#four').fill('漢字かﾅ');
        await page.locator('#namae').fill('太郎');
        await Promise.all([page.waitForURL('**/zt-write'), page.getByRole('button', { name: '書き込む' }).click()]);
        assert.match(await page.locator('#done').textContent(), /書き込みました/);
        assert.equal(await page.locator('#tail').textContent(), '漢字かナ');  // widened
        await shot(page, 'write-done.png');
        await assertAccessible(page);
        assert.deepEqual([...board.file('zt/zt-text.txt')], [0x8A, 0xBF, 0x8E, 0x9A, 0x82, 0xA9, 0x83, 0x69]);

        // Back to the board with the name filled in: the text and the record are there.
        await Promise.all([page.waitForURL('**/zt-view?namae=*'), page.locator('#back').click()]);
        assert.equal(await page.locator('#namae').inputValue(), '太郎');
        assert.equal(await page.locator('#text').textContent(), '漢字かナ');
        assert.equal(await page.locator('#left').textContent(), '255');
        const record = page.locator('#log1 li').first();
        assert.match(await record.textContent(), /^\d\d\/\d{1,2}\/\d{1,2} \d{1,2}:\d\d:\d\d太郎漢字かナ$/);
        assert.equal(await page.locator('#log1 li').count(), 1);
        assert.equal(await page.locator('#log3').textContent(), '太郎\n');
        await shot(page, 'board-after-post.png');
        await assertAccessible(page);
    });

    await t.test('the same name again is refused with error line 6', async () => {
        await page.locator('#four').fill('もう一度');
        await page.getByRole('button', { name: '書き込む' }).click();
        await page.waitForURL('**/zt-write');
        const error = page.locator('#e6');
        assert.match(await error.textContent(), /前回の書き込みと同じ名前「太郎」/);
        assert.equal(await page.locator('.error').count(), 1);
        assert.equal(board.file('zt/zt-text.txt').length, 8);
        await shot(page, 'write-error-6.png');
        await assertAccessible(page);
    });

    await t.test('the read page of a one-page text links to no other page', async () => {
        await page.goto(new URL('zt-read?wa=1', board.url).href);
        assert.equal(await page.locator('#number').textContent(), '1');
        assert.deepEqual(await page.getByRole('link').allTextContents(), ['掲示板に戻る', '掲示板に戻る']);
        await assertAccessible(page);
    });

    await t.test('no post without a name; a character Shift_JIS lacks is refused, and the way back drops it', async () => {
        await page.goto(board.url);
        await page.locator('#four').fill('すし🍣');
        await page.getByRole('button', { name: '書き込む' }).click();
        // The browser keeps a form without a name: nameless visitors would refuse each other.
        assert.equal(await page.locator('#namae').evaluate((e) => e.validity.valueMissing), true);
        assert.equal(page.url(), board.url);
        await page.locator('#namae').fill('次'.repeat(70));
        assert.equal(await page.locator('#namae').inputValue(), '次'.repeat(64));

        await page.locator('#namae').fill('次郎');
        await Promise.all([page.waitForURL('**/zt-write'), page.getByRole('button', { name: '書き込む' }).click()]);
        // The browser sends the emoji as a character reference, which makes the post too long.
        assert.match(await page.locator('#e2').textContent(), /「すし&#127843;」は文字数が合いません/);
        assert.equal(board.file('zt/zt-text.txt').length, 8);
        await Promise.all([page.waitForURL('**/zt-view?namae=*'), page.getByRole('link', { name: '掲示板に戻って書き直す' }).click()]);
        assert.equal(await page.locator('#namae').inputValue(), '次郎');
        assert.equal(await page.locator('#four').inputValue(), '');
    });

    await t.test('other visitors fill the text page; the theme goes with it', async () => {
        // Two visitors who fill a page in seconds are a flood to the rate of posts: off here.
        admin('rate', board.dir, '0');
        let size = 8;
        for (let i = 1; size < 2048 + 8; i++, size += 8) {
            const { bytes } = hiraganaUnit(i);
            const from = i % 2 ? '127.0.0.2' : '127.0.0.3';
            const answer = await board.post(bytes, size, Buffer.from(i % 2 ? 'jiro' : 'saburo'), from);
            assert.equal(answer.status, 200);
            assert.match(answer.body.toString('latin1'), /id="done"/, `post ${i}`);
        }
        await page.goto(board.url);
        assert.equal(await page.locator('#theme').textContent(), '自由に続きを書いてください');
        assert.equal(await page.locator('#size').textContent(), '2056');
        assert.equal(await page.locator('#left').textContent(), '255');
        assert.equal(await page.locator('#text').textContent(), hiraganaUnit(256).text);
    });

    await t.test('the read page pages through the text, wrapping around', async () => {
        let first = '漢字かナ';
        for (let i = 1; i < 256; i++)
            first += hiraganaUnit(i).text;
        const second = hiraganaUnit(256).text;

        await Promise.all([page.waitForURL('**/zt-read?wa=1'), page.locator('#read-first').click()]);
        assert.equal(await page.locator('#number').textContent(), '1');
        assert.equal(await page.locator('#text').textContent(), first);
        assert.match(await page.locator('#prev').textContent(), /第2ページ/);  // wraps to the last
        await shot(page, 'read-page-1.png');
        await assertAccessible(page);

        // The 1024 characters without a line break stay within a phone's width.
        await page.setViewportSize({ width: 390, height: 844 });
        assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
        await shot(page, 'read-page-1-phone.png');
        await page.setViewportSize({ width: 900, height: 1000 });

        const pages = [];
        for (const link of ['#next', '#next', '#prev', '#prev']) {
            await page.locator(link).click();
            await page.waitForLoadState();
            pages.push([await page.locator('#number').textContent(), await page.locator('#text').textContent()]);
        }
        assert.deepEqual(pages, [['2', second], ['1', first], ['2', second], ['1', first]]);
        await page.locator('#next').click();
        await shot(page, 'read-page-2.png');

        await page.locator('#board').click();
        await page.waitForURL('**/zt-view');
        await page.setViewportSize({ width: 390, height: 844 });
        assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
        await shot(page, 'board-phone.png');
    });

    await t.test('names in all 32 poster colours are legible on the board page', async () => {
        let size = board.file('zt/zt-text.txt').length;
        for (let i = 0; i < 32; i++) {
            // 色 (90 46) and one letter: bits 1-5 of the XOR of a name's bytes pick its colour, here i.
            const name = Buffer.from([0x90, 0x46, 0x40 | ((0xD6 ^ (2 * i)) & 0x3F)]);
            const answer = await board.post(hiraganaUnit(i).bytes, size, name, `127.0.4.${i + 1}`);
            assert.match(answer.body.toString('latin1'), /id="done"/, `colour ${i}`);
            size += 8;
        }
        await page.setViewportSize({ width: 900, height: 1000 });
        await page.goto(board.url);
        // The contrast of each coloured record with what is behind it (WCAG 2 relative luminance).
        const records = await page.evaluate(() => {
            const rgba = (css) => css.match(/[\d.]+/g).map(Number);
            const luminance = ([r, g, b]) => {
                const linear = (c) => (c /= 255) <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
                return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
            };
            const behind = (e) => {
                for (; e; e = e.parentElement) {
                    const c = rgba(getComputedStyle(e).backgroundColor);
                    if (c.length < 4 || c[3] > 0)
                        return c;
                }
                return [255, 255, 255];
            };
            return [...document.querySelectorAll('[style^="color:"]')].map((e) => {
                const [a, b] = [luminance(rgba(getComputedStyle(e).color)), luminance(behind(e))];
                return { style: e.getAttribute('style'), ratio: (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05) };
            });
        });
        assert.equal(new Set(records.map((r) => r.style)).size, 32);
        const faint = records.filter((r) => r.ratio < 4.5).map((r) => `${r.style} ${r.ratio.toFixed(2)}:1`);
        assert.deepEqual([...new Set(faint)], []);
        // The 32 newest records under their heading, and the names of log 3.
        await page.evaluate(() => document.querySelector('#log1').previousElementSibling.scrollIntoView());
        await page.screenshot({ path: path.join(outputDir, 'board-colours.png') });
        await page.locator('#log3').screenshot({ path: path.join(outputDir, 'board-colour-names.png') });
        await assertAccessible(page);
    });

    await t.test('the programs wrote nothing to standard error', () => {
        assert.equal(board.programLog(), '');
    });
});
