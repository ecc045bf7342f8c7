// The e-mail page beside MJML, the peer mail framework: for every design of
// data/designs, the page slicewright-cli writes and the same rows of cells
// written as MJML (one section per row, its cells kept side by side in a
// group, each cell an image of its size with its alt text and link) and
// compiled by the pinned mjml. Prints, side by side, the HTML bytes and the
// count of features caniemail says some of the mail clients below do not
// support at all (with which of them are on our allow-list).
//
// usage: node email_peer.mjs --cli CLI --designs DIR --npm DIR [--allow FILE]

import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const kClients = ['outlook.windows', 'outlook.outlook-com', 'gmail.desktop-webmail', 'gmail.ios', 'gmail.android',
    'apple-mail.macos', 'apple-mail.ios', 'yahoo.desktop-webmail', 'samsung-email.android'];

const args = {};
for (let i = 2; i < process.argv.length; i += 2)
    args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
const npm = path.resolve(args.npm || 'tools/npm');
if (!fs.existsSync(path.join(npm, 'node_modules', 'mjml'))) {
    console.log('email_peer: mjml and caniemail are not installed (scripts/install-deps installs them in tools/npm)');
    process.exit(0);
}
const require = createRequire(path.join(npm, 'package.json'));
const mjml2html = require('mjml');
const { caniemail } = await import(pathToFileURL(require.resolve('caniemail')).href);
const allowList = args.allow && fs.existsSync(args.allow) ? JSON.parse(fs.readFileSync(args.allow, 'utf8')) : {};

function unsupported(html) {
    const titles = new Set();
    for (const [, issues] of caniemail({ clients: kClients, html }).issues.errors)
        for (const issue of issues)
            if (issue.support === 'none')
                titles.add(issue.title);
    return [...titles];
}

const attribute = (tag, name) => {
    const found = new RegExp(`\\s${name}="([^"]*)"`).exec(tag);
    return found ? found[1] : '';
};

// Our page's rows of cells, read back from its design table.
function rowsOf(html) {
    const table = html.slice(html.indexOf('class="sw-mail"'));
    const rows = [];
    for (const row of table.split('<tr>').slice(1)) {
        const cells = [];
        for (const td of row.split('</tr>')[0].split('<td').slice(1)) {
            const img = /<img[^>]*>/.exec(td)?.[0] ?? '';
            cells.push({ width: attribute(`<td${td}`, 'width'), height: attribute(`<td${td}`, 'height'),
                src: attribute(img, 'src'), alt: attribute(img, 'alt'), href: attribute(td, 'href'),
                color: attribute(`<td${td}`, 'bgcolor') });
        }
        rows.push(cells);
    }
    return rows;
}

function mjmlOf(rows, width, title) {
    let body = '';
    for (const cells of rows) {
        body += '<mj-section padding="0px"><mj-group>';
        for (const cell of cells) {
            body += `<mj-column width="${cell.width}px" padding="0px"${
                cell.color ? ` background-color="${cell.color}"` : ''}>`;
            body += cell.src
                ? `<mj-image src="${cell.src}" alt="${cell.alt}"${cell.href ? ` href="${cell.href}"` : ''} width="${
                    cell.width}px" height="${cell.height}px" padding="0px" />`
                : `<mj-spacer height="${cell.height}px" />`;
            body += '</mj-column>';
        }
        body += '</mj-group></mj-section>';
    }
    return `<mjml><mj-head><mj-title>${title}</mj-title></mj-head><mj-body width="${width}px">${body}</mj-body></mjml>`;
}

const designs = fs.readdirSync(args.designs).filter((f) => f.endsWith('.swr')).sort();
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'email-peer-'));
const pad = (text, n) => String(text).padStart(n);
console.log(`${'design'.padEnd(18)}${pad('ours bytes', 12)}${pad('mjml bytes', 12)}${pad('ratio', 7)}`
    + `${pad('ours none', 11)}${pad('mjml none', 11)}  mjml's not on our allow-list`);
let oursTotal = 0;
let peerTotal = 0;
try {
    for (const file of designs) {
        const design = path.basename(file, '.swr');
        const out = path.join(work, design);
        const run = spawnSync(args.cli, ['generate', path.join(args.designs, file), '--out', out, '--page', 'index.html',
            '--page-style', 'email', '--format', 'png', '--quiet'], { encoding: 'utf8' });
        if (run.status !== 0) {
            console.log(`${design}: slicewright-cli failed: ${run.stderr.trim()}`);
            continue;
        }
        const ours = fs.readFileSync(path.join(out, 'index.html'), 'utf8');
        const width = Number(/class="sw-mail" width="(\d+)"/.exec(ours)[1]);
        const peer = mjml2html(mjmlOf(rowsOf(ours), width, design), { validationLevel: 'soft' }).html;
        const oursNone = unsupported(ours);
        const peerNone = unsupported(peer);
        const oursBytes = Buffer.byteLength(ours);
        const peerBytes = Buffer.byteLength(peer);
        oursTotal += oursBytes;
        peerTotal += peerBytes;
        console.log(`${design.padEnd(18)}${pad(oursBytes, 12)}${pad(peerBytes, 12)}${
            pad((oursBytes / peerBytes).toFixed(2), 7)}${pad(oursNone.length, 11)}${pad(peerNone.length, 11)}  ${
            peerNone.filter((t) => !allowList[t]).join('; ')}`);
    }
} finally {
    fs.rmSync(work, { recursive: true, force: true });
}
console.log(`${'all'.padEnd(18)}${pad(oursTotal, 12)}${pad(peerTotal, 12)}${pad((oursTotal / peerTotal).toFixed(2), 7)}`);
