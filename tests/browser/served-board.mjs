// A board behind lighttpd for the browser test, set up the way tools/serve sets up the demo:
// a fresh board prepared by zt-admin, the build's three programs copied into it, the
// configuration written by tools/lighttpd-conf, lighttpd started on 127.0.0.1 and a free port.
// Posts can also be sent straight over HTTP from any loopback source address (all of
// 127.0.0.0/8 is this machine), so that other visitors can take turns with the browser.
import { execFileSync, spawn } from 'node:child_process';
import { chmodSync, copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';

const binDir = process.env.ZT_BIN_DIR;
const sourceDir = process.env.ZT_SOURCE_DIR;
if (!binDir || !sourceDir)
    throw new Error('ZT_BIN_DIR and ZT_SOURCE_DIR must name the build\'s bin directory and the source tree');

export function admin(...args) {
    return execFileSync(path.join(binDir, 'zt-admin'), args, { encoding: 'utf8' });
}

function freePort() {
    return new Promise((resolve, reject) => {
        const server = net.createServer();
        server.on('error', reject);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => resolve(port));
        });
    });
}

function connects(port) {
    return new Promise((resolve) => {
        const socket = net.connect(port, '127.0.0.1');
        socket.on('connect', () => { socket.destroy(); resolve(true); });
        socket.on('error', () => resolve(false));
    });
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class ServedBoard {
    static async start() {
        const board = new ServedBoard();
        for (let attempt = 0; attempt < 5; attempt++)
            if (await board.#launch())
                return board;
        throw new Error(`lighttpd did not start:\n${board.#read('lighttpd.log')}`);
    }

    constructor() {
        this.root = mkdtempSync(path.join(tmpdir(), 'zt-browser-'));
        this.dir = path.join(this.root, 'board');
        admin('init', this.dir);
        for (const program of ['zt-write', 'zt-view', 'zt-read']) {
            copyFileSync(path.join(binDir, program), path.join(this.dir, program));
            chmodSync(path.join(this.dir, program), 0o755);
        }
        writeFileSync(path.join(this.root, 'programs.log'), '');
    }

    async #launch() {
        this.port = await freePort();
        const conf = execFileSync(path.join(sourceDir, 'tools/lighttpd-conf'), [
            '--port', String(this.port),
            '--errorlog', path.join(this.root, 'lighttpd.log'),
            '--program-log', path.join(this.root, 'programs.log'),
            '--pass', 'ASAN_OPTIONS', '--pass', 'UBSAN_OPTIONS', '--pass', 'LSAN_OPTIONS',
            this.dir,
        ], { encoding: 'utf8' });
        const confPath = path.join(this.root, 'lighttpd.conf');
        writeFileSync(confPath, conf);
        this.server = spawn('/usr/sbin/lighttpd', ['-D', '-f', confPath], { stdio: 'ignore' });
        let ended = false;
        this.server.on('exit', () => { ended = true; });
        const deadline = Date.now() + 20000;
        while (Date.now() < deadline && !ended) {
            if (await connects(this.port))
                return true;
            await sleep(20);
        }
        this.server.kill('SIGKILL');
        return false;
    }

    get url() { return `http://127.0.0.1:${this.port}/`; }

    #read(name) {
        try { return readFileSync(path.join(this.root, name), 'utf8'); } catch { return ''; }
    }

    file(name) { return readFileSync(path.join(this.dir, name)); }

    // What the programs wrote to standard error: nothing, unless something went wrong.
    programLog() { return this.#read('programs.log'); }

    // One HTTP request from a loopback source address; resolves to { status, body }.
    request(method, target, body, localAddress = '127.0.0.1') {
        return new Promise((resolve, reject) => {
            const headers = method === 'POST'
                ? { 'Content-Type': 'application/x-www-form-urlencoded', 'Content-Length': Buffer.byteLength(body) }
                : {};
            const req = http.request({ host: '127.0.0.1', port: this.port, method, path: target, localAddress, headers,
                agent: false }, (res) => {
                const chunks = [];
                res.on('data', (chunk) => chunks.push(chunk));
                res.on('end', () => resolve({ status: res.statusCode, body: Buffer.concat(chunks) }));
            });
            req.on('error', reject);
            req.end(body);
        });
    }

    // A post of Shift_JIS bytes as a browser sends it, from another visitor's address.
    post(four, prev, namae, localAddress) {
        const body = `four=${percent(four)}&prev=${prev}&namae=${percent(namae)}`;
        return this.request('POST', '/zt-write', body, localAddress);
    }

    async stop() {
        if (this.server && this.server.exitCode === null) {
            const exited = new Promise((resolve) => this.server.on('exit', resolve));
            this.server.kill('SIGTERM');
            await exited;
        }
        rmSync(this.root, { recursive: true, force: true });
    }
}

// Every byte as %XX, as a form carries it.
export function percent(bytes) {
    return [...bytes].map((b) => '%' + b.toString(16).padStart(2, '0').toUpperCase()).join('');
}
