// Forged posts in a real browser: Debian's chromium, driven by playwright-core, opens a page of
// another site that posts to the board, once by a form and once unseen by fetch(), and a page
// that puts the board in a frame. The other site is a second small server on 127.0.0.1 and
// another free port: another port is another origin, and Chromium marks its requests to the
// board "Sec-Fetch-Site: same-site", which the board refuses as it refuses cross-site. The
// board's own form, which Chromium marks same-origin, posts as before.
import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import http from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { test } from 'node:test';

import { ServedBoard } from './served-board.mjs';

let chromium;
try {
    ({ chromium } = await import('playwright-core'));
} catch {
    throw new Error('playwright-core is missing: run "npm ci" in tests/browser (tools/test does)');
}

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// The other site's pages, each aimed at the board at boardUrl.
function foreignPages(boardUrl) {
    const head = '<!DOCTYPE html><html><head><meta charset="utf-8"><title>other site</title></head><body>';
    return {
        // A form that posts four characters in the visitor's name, as the board's own does.
        '/form.html': head +
            `<form method="post" action="${boardUrl}zt-write" accept-charset="Shift_JIS">` +
            '<input type="hidden" name="four" value="偽の投稿"><input type="hidden" name="prev" value="0">' +
            '<input type="hidden" name="namae" value="偽者"><button>送る</button></form></body></html>',
        // The same post sent unseen, as soon as the page opens; its answer stays hidden from
        // the page, but the post would be made.
        '/fetch.html': head +
            `<script>fetch(${JSON.stringify(boardUrl + 'zt-write')}, { method: 'POST', mode: 'no-cors',` +
            ' headers: { "Content-Type": "application/x-www-form-urlencoded" },' +
            ' body: "four=%8B%55%82%CC%93%8A%8De&prev=0&namae=a" })' +
            '.finally(() => { document.title = "sent"; });</script></body></html>',
        // The board in a frame, where a visitor could be tricked into using its form.
        '/frame.html': head + `<iframe src="${boardUrl}" width="800" height="600"></iframe></body></html>`,
    };
}

function startForeignSite(boardUrl) {
    const pages = foreignPages(boardUrl);
    const server = http.createServer((request, response) => {
        const page = pages[request.url];
        response.writeHead(page ? 200 : 404, { 'Content-Type': 'text/html; charset=utf-8' });
        response.end(page ?? '');
    });
    return new Promise((resolve, reject) => {
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => resolve(server));
    });
}

test('another site can neither post to the board nor frame it; the board\'s own form posts', async (t) => {
    const board = await ServedBoard.start();
    const foreign = await startForeignSite(board.url);
    const foreignUrl = `http://127.0.0.1:${foreign.address().port}`;
    const profile = mkdtempSync(path.join(tmpdir(), 'zt-chromium-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM, headless: true, args: CHROMIUM_ARGS,
    });
    t.after(async () => {
        await context.close();
        rmSync(profile, { recursive: true, force: true });
        await new Promise((resolve) => foreign.close(resolve));
        await board.stop();
    });
    const page = context.pages()[0] ?? await context.newPage();

    // Every answer to a post to zt-write. (Chromium withholds the answer to fetch() from the
    // page, and then reports the request as aborted, so its headers as sent are not to be had;
    // the form's are.)
    const posts = [];
    context.on('response', (response) => {
        const request = response.request();
        if (request.method() === 'POST' && request.url() === board.url + 'zt-write')
            posts.push({ status: response.status(), headers: () => request.allHeaders() });
    });
    const lastPost = async () => {
        for (let tries = 0; tries < 100 && posts.length === 0; tries++)
            await new Promise((resolve) => setTimeout(resolve, 50));
        assert.equal(posts.length, 1, 'one post to zt-write');
        return posts.pop();
    };
    const nobody = board.file('zt/zt-jti.txt');

    await t.test('a form on another port\'s page: same-site, refused', async () => {
        await page.goto(foreignUrl + '/form.html');
        await Promise.all([page.waitForURL(board.url + 'zt-write'), page.locator('button').click()]);
        const post = await lastPost();
        const headers = await post.headers();
        assert.equal(headers['sec-fetch-site'], 'same-site');
        assert.equal(headers.origin, foreignUrl);
        assert.equal(post.status, 403);
        assert.equal(await page.locator('#done').count(), 0);
        assert.equal(board.file('zt/zt-text.txt').length, 0);
        assert.deepEqual(board.file('zt/zt-jti.txt'), nobody);
    });

    await t.test('the same post sent unseen by fetch(): refused', async () => {
        await page.goto(foreignUrl + '/fetch.html');
        await page.waitForFunction(() => document.title === 'sent');
        const post = await lastPost();
        assert.equal(post.status, 403);
        assert.equal(board.file('zt/zt-text.txt').length, 0);
        assert.deepEqual(board.file('zt/zt-jti.txt'), nobody);
    });

    await t.test('the board in another site\'s frame is not shown', async () => {
        await page.goto(foreignUrl + '/frame.html');
        const frame = page.frames().find((f) => f !== page.mainFrame());
        assert.ok(frame, 'the frame is there');
        await frame.waitForLoadState();
        assert.equal(await frame.locator('#theme').count(), 0);
        assert.notEqual(frame.url(), board.url);
    });

    await t.test('the board\'s own form: same-origin, taken', async () => {
        await page.goto(board.url);
        await page.locator('#four').fill('漢字かナ');
        await page.locator('#namae').fill('太郎');
        await Promise.all([page.waitForURL('**/zt-write'), page.getByRole('button', { name: '書き込む' }).click()]);
        const post = await lastPost();
        const headers = await post.headers();
        assert.equal(headers['sec-fetch-site'], 'same-origin');
        assert.equal(headers.origin, board.url.replace(/\/$/, ''));
        assert.equal(post.status, 200);
        assert.match(await page.locator('#done').textContent(), /書き込みました/);
        assert.deepEqual([...board.file('zt/zt-text.txt')], [0x8A, 0xBF, 0x8E, 0x9A, 0x82, 0xA9, 0x83, 0x69]);
    });

    await t.test('the programs wrote nothing to standard error', () => {
        assert.equal(board.programLog(), '');
    });
});
