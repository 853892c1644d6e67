// The flood that tools/flood runs (see there): a board behind lighttpd on 127.0.0.1, one
// loopback address holding many slow requests, and a visitor from another address asking
// for the board page meanwhile. Prints what was held and how fast the visitor was answered.
import { execFileSync, spawn } from 'node:child_process';
import { chmodSync, copyFileSync, mkdtempSync, readdirSync, readFileSync, readlinkSync, rmSync,
    writeFileSync } from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';
import { Worker, isMainThread, parentPort, workerData } from 'node:worker_threads';

const MAX_CONNECTIONS = 5000;
const MAX_SECONDS = 300;
const FLOOD_ADDRESS = '127.0.0.2';
const VISITOR_ADDRESS = '127.0.0.3';
const VISITOR_INTERVAL_MS = 500;
const VISITOR_TIMEOUT_MS = 10000;
const CONNECT_TIMEOUT_MS = 5000;
const OPENING_AT_ONCE = 200;  // connections being opened at a time, not yet connected

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The visitor runs in a thread of its own, so that the flood's work in the main thread never
// delays the visitor's clock: every 500 ms one GET / on a new connection, timed from the
// connect to the last byte of the answer.
function visitor({ port }) {
    let stop = false;
    parentPort.on('message', () => { stop = true; });
    const once = () => new Promise((resolve) => {
        const started = process.hrtime.bigint();
        const done = (status) => {
            socket.destroy();
            resolve({ status, ms: Number(process.hrtime.bigint() - started) / 1e6 });
        };
        const socket = net.connect({ host: '127.0.0.1', port, localAddress: VISITOR_ADDRESS });
        let answer = '';
        socket.setTimeout(VISITOR_TIMEOUT_MS, () => done(0));
        socket.on('error', () => done(0));
        socket.on('connect', () => socket.end(
            'GET / HTTP/1.1\r\nHost: 127.0.0.1:' + port + '\r\nConnection: close\r\n\r\n'));
        socket.on('data', (chunk) => { answer += chunk.toString('latin1'); });
        socket.on('end', () => {
            const status = /^HTTP\/1\.\d (\d{3})/.exec(answer);
            done(status && answer.includes('</html>') ? Number(status[1]) : 0);
        });
    });
    (async () => {
        const results = [];
        while (!stop) {
            const next = Date.now() + VISITOR_INTERVAL_MS;
            results.push(await once());
            await sleep(Math.max(0, next - Date.now()));
        }
        parentPort.postMessage(results);
    })();
}

async function main() {
    const { values } = parseArgs({
        options: {
            kind: { type: 'string', default: 'header' },
            connections: { type: 'string', default: '2000' },
            seconds: { type: 'string', default: '60' },
            trickle: { type: 'string', default: '5' },
            without: { type: 'boolean', default: false },
            bin: { type: 'string' },
            source: { type: 'string' },
        },
    });
    const kind = values.kind;
    const connections = Number(values.connections);
    const seconds = Number(values.seconds);
    const trickle = Number(values.trickle);
    if (!['header', 'body'].includes(kind))
        throw new Error('--kind is header or body');
    if (!(connections >= 1 && connections <= MAX_CONNECTIONS))
        throw new Error(`--connections is 1 to ${MAX_CONNECTIONS}`);
    if (!(seconds >= 1 && seconds <= MAX_SECONDS))
        throw new Error(`--seconds is 1 to ${MAX_SECONDS}`);
    if (!(trickle >= 0 && trickle <= MAX_SECONDS))
        throw new Error(`--trickle is 0 (send nothing more) to ${MAX_SECONDS}`);

    const server = await Server.start(values.bin, values.source, values.without);
    try {
        const figures = await flood(server, { kind, connections, seconds, trickle });
        console.log(JSON.stringify({ kind, connections, seconds, trickle,
            settings: values.without ? 'without' : 'with', ...figures }));
    } finally {
        await server.stop();
    }
}

// lighttpd serving a fresh board with the configuration of tools/lighttpd-conf. Without the
// flood limits, the configuration loses the section between its two marker lines.
class Server {
    static async start(bin, source, without) {
        const server = new Server();
        server.root = mkdtempSync(path.join(tmpdir(), 'zt-flood-'));
        const board = path.join(server.root, 'board');
        execFileSync(path.join(bin, 'zt-admin'), ['init', board]);
        for (const program of ['zt-write', 'zt-view', 'zt-read']) {
            copyFileSync(path.join(bin, program), path.join(board, program));
            chmodSync(path.join(board, program), 0o755);
        }
        for (let attempt = 0; attempt < 5; attempt++) {
            server.port = await freePort();
            let conf = execFileSync(path.join(source, 'tools/lighttpd-conf'), ['--port', String(server.port),
                '--errorlog', path.join(server.root, 'lighttpd.log'), board], { encoding: 'utf8' });
            if (without) {
                const cut = /^# >>> limits against floods[^]*?^# <<< limits against floods\n/m;
                if (!cut.test(conf))
                    throw new Error('the configuration has no marked section of flood limits');
                conf = conf.replace(cut, '');
            }
            const confPath = path.join(server.root, 'lighttpd.conf');
            writeFileSync(confPath, conf);
            server.process = spawn('/usr/sbin/lighttpd', ['-D', '-f', confPath], { stdio: 'ignore' });
            let ended = false;
            server.process.on('exit', () => { ended = true; });
            for (const deadline = Date.now() + 10000; Date.now() < deadline && !ended; await sleep(20))
                if (await connects(server.port))
                    return server;
            server.process.kill('SIGKILL');
        }
        throw new Error(`lighttpd did not start:\n${server.log()}`);
    }

    log() {
        try { return readFileSync(path.join(this.root, 'lighttpd.log'), 'utf8'); } catch { return ''; }
    }

    // The sockets lighttpd holds open (its listening socket among them), and its resident
    // memory.
    sockets() {
        const dir = `/proc/${this.process.pid}/fd`;
        let n = 0;
        for (const fd of readdirSync(dir)) {
            try { if (readlinkSync(path.join(dir, fd)).startsWith('socket:')) n++; } catch { /* closed */ }
        }
        return n;
    }

    memoryKiB() {
        const status = readFileSync(`/proc/${this.process.pid}/status`, 'utf8');
        return Number(/VmRSS:\s+(\d+)/.exec(status)[1]);
    }

    async stop() {
        if (this.process.exitCode === null) {
            const exited = new Promise((resolve) => this.process.on('exit', resolve));
            this.process.kill('SIGTERM');
            await exited;
        }
        rmSync(this.root, { recursive: true, force: true });
    }
}

function freePort() {
    return new Promise((resolve, reject) => {
        const s = net.createServer();
        s.on('error', reject);
        s.listen(0, '127.0.0.1', () => {
            const { port } = s.address();
            s.close(() => resolve(port));
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

// Holds `connections` slow requests from one address for `seconds`: each sends half of its
// request (half a header; or a POST's whole header and a few bytes of the body it announced),
// then one more byte every `trickle` seconds (never, when 0), and is opened again when the
// server closes it. A visitor asks for the board page throughout.
async function flood(server, { kind, connections, seconds, trickle }) {
    const port = server.port;
    const host = `Host: 127.0.0.1:${port}\r\n`;
    const start = kind === 'header'
        ? `GET / HTTP/1.1\r\n${host}User-Agent: zt-flood\r\nX-Slow: `
        : `POST /zt-write HTTP/1.1\r\n${host}Content-Type: application/x-www-form-urlencoded\r\n` +
          'Content-Length: 4000\r\n\r\nfour=';
    const open = new Set();
    let opening = 0, opened = 0, closedByServer = 0, notAccepted = 0, answered = 0;
    let stopping = false;

    const openOne = () => {
        opening++;
        const socket = net.connect({ host: '127.0.0.1', port, localAddress: FLOOD_ADDRESS });
        let connected = false;
        const timer = setTimeout(() => { if (!connected) socket.destroy(); }, CONNECT_TIMEOUT_MS);
        socket.on('connect', () => {
            connected = true;
            clearTimeout(timer);
            opening--;
            opened++;
            open.add(socket);
            socket.write(start);
        });
        socket.on('data', () => { answered++; });  // the server answered early (a refusal)
        socket.on('error', () => {});
        socket.on('close', () => {
            clearTimeout(timer);
            if (!connected) {
                opening--;
                notAccepted++;
            } else {
                open.delete(socket);
                if (!stopping)
                    closedByServer++;
            }
        });
    };

    let trickler;
    if (trickle > 0)
        trickler = setInterval(() => { for (const socket of open) socket.write('a'); }, trickle * 1000);
    // Keeps the flood at its size: opens what is missing, a batch at a time.
    const keeper = setInterval(() => {
        while (!stopping && open.size + opening < connections && opening < OPENING_AT_ONCE)
            openOne();
    }, 20);

    // The flood reaches its size (or 30 s pass), then the visitor starts and the flood is held.
    const rampStart = Date.now();
    while (open.size < connections && Date.now() - rampStart < 30000)
        await sleep(50);
    const rampSeconds = (Date.now() - rampStart) / 1000;
    const worker = new Worker(new URL(import.meta.url), { workerData: { port } });
    const samples = [];
    const holdStart = Date.now();
    while (Date.now() - holdStart < seconds * 1000) {
        await sleep(1000);
        samples.push({ client: open.size, server: server.sockets() - 1, memoryKiB: server.memoryKiB() });
    }
    const visits = await new Promise((resolve) => {
        worker.once('message', resolve);
        worker.postMessage('stop');
    });
    await worker.terminate();
    stopping = true;
    clearInterval(keeper);
    clearInterval(trickler);
    for (const socket of open)
        socket.destroy();

    const times = visits.map((v) => v.ms).sort((a, b) => a - b);
    const held = samples.map((s) => s.server);
    const log = server.log();
    return {
        rampSeconds,
        heldByServer: { min: Math.min(...held), max: Math.max(...held) },
        openAtClient: {
            min: Math.min(...samples.map((s) => s.client)),
            max: Math.max(...samples.map((s) => s.client)),
        },
        opened, closedByServer, notAccepted, answeredEarly: answered,
        lighttpdPeakMemoryMiB: Math.round(Math.max(...samples.map((s) => s.memoryKiB)) / 102.4) / 10,
        visitor: {
            requests: visits.length,
            answered: visits.filter((v) => v.status === 200).length,
            medianMs: Math.round(times[Math.floor(times.length / 2)] * 10) / 10,
            worstMs: Math.round(times[times.length - 1] * 10) / 10,
            within2s: visits.filter((v) => v.status === 200 && v.ms <= 2000).length,
        },
        connectionLimitNotes: (log.match(/connection limit reached/g) ?? []).length,
        outOfFdsNotes: (log.match(/out-of-fds/g) ?? []).length,
    };
}

if (!isMainThread) {
    visitor(workerData);
} else {
    try {
        await main();
    } catch (error) {
        console.error(`flood: ${error.message}`);
        process.exit(2);
    }
}
