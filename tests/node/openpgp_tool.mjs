#!/usr/bin/env node
// Password encryption and decryption with OpenPGP.js, for the tests that
// check our messages against an independent implementation.  Reads standard
// input, writes the result alone to standard output; on failure writes the
// reason to standard error and exits non-zero (1: the operation failed,
// 2: the command line is wrong).
//
//   openpgp_tool.mjs encrypt --password P [--v4 | --v6] [--aead ocb|eax|gcm]
//                    [--s2k iterated|argon2] [--cipher aes128|aes192|aes256]
//                    [--compress none|zip|zlib] [--chunk N] [--armor]
//                    < plaintext > message
//   openpgp_tool.mjs decrypt --password P [--allow-unauthenticated] < message > plaintext
//
// encrypt writes a symmetric-key encrypted session key packet and an
// integrity-protected data packet (tag 18):
//   --v4 (the default without --aead): a version 4 session key packet and a
//        version 1 data packet (CFB with the modification detection code);
//   --v6 or --aead X: a version 6 session key packet and a version 2 data
//        packet sealed with AEAD X (OCB when --v6 comes without --aead).
// --s2k: iterated and salted (count byte 224, the default) or Argon2 (three
// passes, four lanes, 64 MiB).  --cipher: the session key's cipher (default
// aes256).  --compress: the compressed packet around the literal packet
// (default none).  --chunk N: the AEAD chunk size, either as the size byte
// of the packet (0..16, chunks of 2^(N+6) bytes) or as a size in bytes
// (a power of two from 64); default 2^18 bytes.  --armor: ASCII armor.
// The literal packet is binary ('b'), without a file name.
//
// decrypt reads binary or armored messages.  OpenPGP.js refuses data
// packets without integrity protection (tag 9, or tag 18 without its
// modification detection code) unless --allow-unauthenticated is given.
import * as openpgp from 'openpgp';

const USAGE = 'usage: openpgp_tool.mjs encrypt --password P [--v4|--v6] [--aead ocb|eax|gcm] ' +
    '[--s2k iterated|argon2] [--cipher aes128|aes192|aes256] [--compress none|zip|zlib] [--chunk N] [--armor]\n' +
    '       openpgp_tool.mjs decrypt --password P [--allow-unauthenticated]';

class UsageError extends Error {}

const CHOICES = {
    '--aead': { ocb: openpgp.enums.aead.ocb, eax: openpgp.enums.aead.eax, gcm: openpgp.enums.aead.gcm },
    '--s2k': { iterated: openpgp.enums.s2k.iterated, argon2: openpgp.enums.s2k.argon2 },
    '--cipher': { aes128: openpgp.enums.symmetric.aes128, aes192: openpgp.enums.symmetric.aes192,
                  aes256: openpgp.enums.symmetric.aes256 },
    '--compress': { none: openpgp.enums.compression.uncompressed, zip: openpgp.enums.compression.zip,
                    zlib: openpgp.enums.compression.zlib },
};
const WITH_VALUE = new Set(['--password', '--chunk', ...Object.keys(CHOICES)]);
const FLAGS = { encrypt: new Set(['--v4', '--v6', '--armor']), decrypt: new Set(['--allow-unauthenticated']) };
const VALUES = { encrypt: new Set(WITH_VALUE), decrypt: new Set(['--password']) };

function parse(argv) {
    const command = argv[0];
    if (command !== 'encrypt' && command !== 'decrypt')
        throw new UsageError(command === undefined ? 'no command' : `unknown command ${command}`);
    const options = {};
    for (let i = 1; i < argv.length; i++) {
        const name = argv[i];
        if (FLAGS[command].has(name)) {
            options[name] = true;
        } else if (VALUES[command].has(name)) {
            if (i + 1 >= argv.length)
                throw new UsageError(`${name} needs a value`);
            const value = argv[++i];
            if (CHOICES[name] && !(value in CHOICES[name]))
                throw new UsageError(`${name}: ${value} is not one of ${Object.keys(CHOICES[name]).join(', ')}`);
            options[name] = value;
        } else {
            throw new UsageError(`${command}: unknown option ${name}`);
        }
    }
    if (options['--password'] === undefined)
        throw new UsageError('--password is required');
    if (options['--v4'] && options['--v6'])
        throw new UsageError('--v4 and --v6 exclude each other');
    if (options['--v4'] && options['--aead'])
        throw new UsageError('--aead writes version 6 packets: it cannot go with --v4');
    return { command, options };
}

// The chunk size byte from either form of --chunk.
function chunkSizeByte(text) {
    if (!/^[0-9]+$/.test(text))
        throw new UsageError(`--chunk: ${text} is not a number`);
    const n = Number(text);
    if (n <= 16)
        return n;
    const octet = Math.log2(n) - 6;
    if (!Number.isInteger(octet) || octet < 0 || octet > 16)
        throw new UsageError(`--chunk: ${text} is neither a size byte 0..16 nor a power of two from 64 to 2^22`);
    return octet;
}

async function readStdin() {
    const pieces = [];
    for await (const piece of process.stdin)
        pieces.push(piece);
    return new Uint8Array(Buffer.concat(pieces));
}

async function encrypt(options, input) {
    const v6 = Boolean(options['--v6'] || options['--aead']);
    const config = {
        aeadProtect: v6,
        preferredAEADAlgorithm: CHOICES['--aead'][options['--aead'] ?? 'ocb'],
        s2kType: CHOICES['--s2k'][options['--s2k'] ?? 'iterated'],
        preferredSymmetricAlgorithm: CHOICES['--cipher'][options['--cipher'] ?? 'aes256'],
        preferredCompressionAlgorithm: CHOICES['--compress'][options['--compress'] ?? 'none'],
    };
    if (options['--chunk'] !== undefined)
        config.aeadChunkSizeByte = chunkSizeByte(options['--chunk']);
    const message = await openpgp.createMessage({ binary: input, format: 'binary' });
    const armor = Boolean(options['--armor']);
    const out = await openpgp.encrypt({
        message, passwords: [options['--password']], format: armor ? 'armored' : 'binary', config,
    });
    return armor ? Buffer.from(out, 'utf8') : Buffer.from(out);
}

async function decrypt(options, input) {
    const text = Buffer.from(input.subarray(0, 64)).toString('latin1');
    const message = text.trimStart().startsWith('-----BEGIN PGP')
        ? await openpgp.readMessage({ armoredMessage: Buffer.from(input).toString('utf8') })
        : await openpgp.readMessage({ binaryMessage: input });
    const config = { allowUnauthenticatedMessages: Boolean(options['--allow-unauthenticated']) };
    const { data } = await openpgp.decrypt({ message, passwords: [options['--password']], format: 'binary', config });
    return Buffer.from(data);
}

async function main() {
    let parsed;
    try {
        parsed = parse(process.argv.slice(2));
    } catch (e) {
        process.stderr.write(`openpgp_tool: ${e.message}\n${USAGE}\n`);
        return 2;
    }
    try {
        const input = await readStdin();
        const out = parsed.command === 'encrypt' ? await encrypt(parsed.options, input)
                                                 : await decrypt(parsed.options, input);
        await new Promise((resolve, reject) => process.stdout.write(out, e => (e ? reject(e) : resolve())));
        return 0;
    } catch (e) {
        process.stderr.write(`openpgp_tool: ${parsed.command} failed: ${e.message}\n`);
        return e instanceof UsageError ? 2 : 1;
    }
}

process.exitCode = await main();
