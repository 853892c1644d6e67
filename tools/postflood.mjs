// The floods of posts that tools/postflood runs (see there): a board behind lighttpd, posts
// as fast as the server takes them from two addresses in turn or from one /64 after another
// of one IPv6 /48, visitors who post two seconds after they load the board page meanwhile,
// three visitors taking turns, and a post killed while it holds the lock. One JSON line per
// scenario.
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { chmodSync, copyFileSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const UNIT = '%82%A0%82%A2%82%A4%82%A6';  // four hiragana in Shift_JIS
const VISITORS = 10;
const VISITOR_PAUSE_MS = 2000;  // between loading the board page and posting
const TURN_MS = 4000;           // three visitors taking turns: each posts every 12 s
const DEATH_WAIT_MS = 30000;    // how long a post may wait for a dead holder's lock

// One request on a connection of its own from address, its whole answer as latin1 text.
function request(port, address, head, body = '') {
    return new Promise((resolve) => {
        const family = address.includes(':') ? 6 : 4;
        const socket = net.connect({ host: family === 6 ? '::1' : '127.0.0.1', port, localAddress: address, family });
        let answer = '';
        socket.setTimeout(10000, () => { socket.destroy(); resolve(''); });
        socket.on('error', () => resolve(''));
        socket.on('connect', () => socket.end(head + body));
        socket.on('data', (chunk) => { answer += chunk.toString('latin1'); });
        socket.on('end', () => resolve(answer));
    });
}

async function prev(port, address) {
    const page = await request(port, address, 'GET /zt-view HTTP/1.1\r\nHost: zt\r\nConnection: close\r\n\r\n');
    const m = /name="prev" value="(\d+)"/.exec(page);
    return m ? m[1] : '0';
}

// A post; its code: 0 for the completion part, -N for error line N, null for neither.
async function post(port, address, size, name) {
    const body = `four=${UNIT}&prev=${size}&namae=${name}`;
    const answer = await request(port, address, 'POST /zt-write HTTP/1.1\r\nHost: zt\r\nConnection: close\r\n' +
        'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: ' + body.length + '\r\n\r\n', body);
    if (answer.includes('id="done"'))
        return 0;
    const e = /id="e(\d+)"/.exec(answer);
    return e ? -Number(e[1]) : null;
}

function tally(codes) {
    const counts = {};
    for (const c of codes)
        counts[String(c)] = (counts[String(c)] || 0) + 1;
    return counts;
}

class Server {
    static async start(bin, source) {
        const server = new Server();
        server.root = mkdtempSync(path.join(tmpdir(), 'zt-postflood-'));
        server.board = path.join(server.root, 'board');
        execFileSync(path.join(source, 'build/bin/zt-admin'), ['init', server.board]);
        for (const program of ['zt-write', 'zt-view', 'zt-read']) {
            copyFileSync(path.join(bin, program), path.join(server.board, program));
            chmodSync(path.join(server.board, program), 0o755);
        }
        server.port = 20000 + Math.floor(Math.random() * 20000);
        // lighttpd cannot raise its descriptors beyond the hard limit it runs under.
        const maxFds = execFileSync('/bin/sh', ['-c', 'ulimit -Hn'], { encoding: 'utf8' }).trim();
        const conf = execFileSync(path.join(source, 'tools/lighttpd-conf'), ['--bind', '[::]', '--origin', 'http://zt',
            '--port', String(server.port), '--max-fds', maxFds, '--errorlog', path.join(server.root, 'lighttpd.log'),
            server.board], { encoding: 'utf8' });
        // IPv4 visitors reach the same socket: ::ffff:127.0.0.x, which the board counts as IPv4.
        const confPath = path.join(server.root, 'lighttpd.conf');
        writeFileSync(confPath, conf + 'server.set-v6only = "disable"\n');
        server.process = spawn('/usr/sbin/lighttpd', ['-D', '-f', confPath], { stdio: 'ignore' });
        for (const deadline = Date.now() + 10000; Date.now() < deadline; await sleep(50))
            if ((await request(server.port, '127.0.0.1', 'GET /zt-view HTTP/1.1\r\nHost: zt\r\nConnection: close\r\n\r\n')).includes('200'))
                return server;
        throw new Error(`lighttpd did not start: ${readFileSync(path.join(server.root, 'lighttpd.log'), 'utf8')}`);
    }

    size() { return statSync(path.join(this.board, 'zt/zt-text.txt')).size; }

    async stop() {
        const exited = new Promise((resolve) => this.process.on('exit', resolve));
        this.process.kill('SIGTERM');
        await exited;
        rmSync(this.root, { recursive: true, force: true });
    }
}

// A flood for `seconds` from the addresses that next() gives, one after the other, each post
// against the size the board page shows just before it, while ten visitors, spread over the
// flood, each load the page and post two seconds later.
async function flood(server, seconds, next) {
    const start = server.size(), began = Date.now(), end = began + seconds * 1000;
    const codes = [], taken = [];  // taken: when each of the flood's accepted posts was answered
    const flooding = (async () => {
        for (let i = 0; Date.now() < end; i++) {
            const address = next(i);
            const code = await post(server.port, address, await prev(server.port, address), 'f' + (i % 2));
            codes.push(code);
            if (code === 0)
                taken.push(Date.now() - began);
        }
    })();
    const visitors = [];
    for (let v = 0; v < VISITORS; v++) {
        visitors.push((async () => {
            await sleep(((v + 0.5) * seconds * 1000) / VISITORS);
            const address = `127.0.5.${v + 1}`;
            const size = await prev(server.port, address);
            await sleep(VISITOR_PAUSE_MS);
            return post(server.port, address, size, 'v' + v);
        })());
    }
    const answers = await Promise.all(visitors);
    await flooding;
    const inVisitors = answers.filter((c) => c === 0).length;
    // The most of the flood's posts accepted within any 60 s (the flood runs a little longer
    // than S, as its last post began before the end).
    let most = 0;
    for (let i = 0, j = 0; j < taken.length; j++) {
        while (taken[j] - taken[i] >= 60000)
            i++;
        most = Math.max(most, j - i + 1);
    }
    return { flood_posts: codes.length, flood_answers: tally(codes), units_added: (server.size() - start) / 8,
        flood_units: (server.size() - start) / 8 - inVisitors, flood_units_first_20s: taken.filter((t) => t < 20000).length,
        flood_units_most_in_60s: most, visitors_in: inVisitors, visitors_answers: tally(answers) };
}

// Three visitors taking turns, one post every 4 s, each right after loading the page.
async function turns(server, seconds) {
    const codes = [];
    for (let i = 0; i * TURN_MS < seconds * 1000; i++) {
        const next = Date.now() + TURN_MS;
        const address = `127.0.6.${(i % 3) + 1}`;
        codes.push(await post(server.port, address, await prev(server.port, address), 't' + (i % 3)));
        await sleep(Math.max(0, next - Date.now()));
    }
    return { posts: codes.length, refused: codes.filter((c) => c !== 0).length, answers: tally(codes) };
}

// A post killed with SIGKILL as it appends its unit, holding the lock; then a visitor posts
// every 100 ms until a post is taken: the seconds from the death to that post.
async function death(server, bin) {
    const size = server.size();
    const body = `four=${UNIT}&prev=${size}&namae=dies`;
    const run = spawnSync('/usr/bin/strace', ['-qq', '-o', '/dev/null', '-e', 'inject=pwrite64:signal=SIGKILL:when=1',
        path.join(bin, 'zt-write')], { cwd: server.board, input: body,
        env: { CONTENT_LENGTH: String(body.length), REMOTE_ADDR: '127.0.7.1', REQUEST_METHOD: 'POST' } });
    const died = Date.now();
    const codes = [];
    while (Date.now() - died < DEATH_WAIT_MS) {
        const code = await post(server.port, '127.0.7.2', await prev(server.port, '127.0.7.2'), 'after');
        codes.push(code);
        if (code === 0)
            return { killed: run.signal, seconds_to_next_post: (Date.now() - died) / 1000, answers: tally(codes) };
        await sleep(100);
    }
    return { killed: run.signal, seconds_to_next_post: null, waited: DEATH_WAIT_MS / 1000, answers: tally(codes) };
}

async function main() {
    const { values } = parseArgs({ options: {
        bin: { type: 'string' }, source: { type: 'string' }, seconds: { type: 'string', default: '60' },
        scenario: { type: 'string', multiple: true }, label: { type: 'string', default: '' } } });
    const seconds = Number(values.seconds);
    const scenarios = values.scenario ?? ['pair', 'rotate48', 'turns', 'death'];
    for (const scenario of scenarios) {
        const server = await Server.start(values.bin, values.source);
        try {
            let figures;
            if (scenario === 'pair')
                figures = await flood(server, seconds, (i) => (i % 2 ? '127.0.4.2' : '127.0.4.1'));
            else if (scenario === 'rotate48')
                figures = await flood(server, seconds, (i) => `2001:db8:1:${(i % 65535 + 1).toString(16)}::1`);
            else if (scenario === 'turns')
                figures = await turns(server, seconds);
            else if (scenario === 'death')
                figures = await death(server, values.bin);
            else
                throw new Error(`no scenario ${scenario}`);
            console.log(JSON.stringify({ programs: values.label, scenario, seconds, ...figures }));
        } finally {
            await server.stop();
        }
    }
}

await main();
