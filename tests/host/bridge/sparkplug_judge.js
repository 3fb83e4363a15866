// The Sparkplug B judge: Eclipse Tahu's own codec (the npm package sparkplug-payload, fetched
// by the build into TAV_JUDGE_MODULES) decodes what the bridge sends, and the session's rules
// are checked on what it decoded.
//   watch PORT LOG         every message on spBv1.0/# as one JSON line in LOG ("ready" first)
//   check LOG              the rules over LOG: one line per rule broken, exit 1 when any is
//   publish PORT TOPIC J   the payload J (JSON) encoded by Tahu and published
'use strict';
const childProcess = require('child_process');
const fs = require('fs');
const path = require('path');
const codec = require(path.join(process.env.TAV_JUDGE_MODULES, 'sparkplug-payload')).get('spBv1.0');

const plain = (key, value) =>
  value && typeof value === 'object' && typeof value.toNumber === 'function' ? value.toNumber() : value;

function watch(port, log) {
  // Line-buffered: each message is in the log as it arrives.
  const sub = childProcess.spawn('stdbuf', ['-oL', 'mosquitto_sub', '-h', '127.0.0.1', '-p', port,
                                            '-q', '1', '-d', '-t', 'spBv1.0/#', '-F', '%t %x']);
  let rest = '';
  sub.stdout.on('data', (chunk) => {
    const lines = (rest + chunk).split('\n');
    rest = lines.pop();
    for (const line of lines) {
      if (line.includes('received SUBACK')) fs.appendFileSync(log, '"ready"\n');
      if (!line.startsWith('spBv1.0/')) continue;
      const [topic, hex] = line.split(' ');
      const entry = { topic, levels: topic.split('/') };
      const bytes = Buffer.from(hex || '', 'hex');
      try {
        entry.payload = entry.levels[1] === 'STATE' ? bytes.toString() : codec.decodePayload(bytes);
      } catch (error) {
        entry.error = String(error);
      }
      fs.appendFileSync(log, JSON.stringify(entry, plain) + '\n');
    }
  });
  process.on('SIGTERM', () => { sub.kill(); process.exit(0); });
}

function check(log) {
  const broken = [];
  const lines = fs.readFileSync(log, 'utf8').split('\n').filter((l) => l.startsWith('{'));
  let birthSeq = null, lastSeq = null, aliases = null, born = new Map();
  const metricOf = (payload, name) => (payload.metrics || []).find((m) => m.name === name);
  lines.map((l) => JSON.parse(l)).forEach((m, at) => {
    const where = `message ${at} ${m.topic}`;
    const verb = m.levels[2], device = m.levels[4];
    if (m.levels[1] === 'STATE' || verb === 'NCMD' || verb === 'DCMD') return;  // the host's
    if (m.error) return broken.push(`${where}: Tahu cannot decode it: ${m.error}`);
    const p = m.payload;
    if (verb === 'NDEATH') {
      const bd = metricOf(p, 'bdSeq');
      if (!bd || bd.value !== birthSeq) broken.push(`${where}: bdSeq ${bd && bd.value}, NBIRTH's ${birthSeq}`);
      if (p.seq !== undefined) broken.push(`${where}: an NDEATH carries no seq`);
      aliases = null;
      return;
    }
    if (verb === 'NBIRTH') {
      const bd = metricOf(p, 'bdSeq'), rebirth = metricOf(p, 'Node Control/Rebirth');
      if (p.seq !== 0) broken.push(`${where}: seq ${p.seq}, not 0`);
      if (!bd || bd.type !== 'Int64') broken.push(`${where}: no Int64 bdSeq`);
      if (!rebirth || rebirth.type !== 'Boolean') broken.push(`${where}: no Node Control/Rebirth`);
      if (bd && birthSeq !== null && bd.value !== birthSeq && bd.value !== (birthSeq + 1) % 256) {
        broken.push(`${where}: bdSeq ${bd.value} after ${birthSeq}`);
      }
      birthSeq = bd ? bd.value : null;
      lastSeq = 0;
      aliases = new Map();
      born = new Map();
      return;
    }
    if (aliases === null) return broken.push(`${where}: before the node's NBIRTH`);
    if (p.seq !== (lastSeq + 1) % 256) broken.push(`${where}: seq ${p.seq} after ${lastSeq}`);
    lastSeq = p.seq;
    if (!p.timestamp) broken.push(`${where}: no timestamp`);
    if (verb === 'DBIRTH') {
      for (const alias of born.get(device) || []) aliases.delete(alias);  // born again
      born.set(device, new Set());
      for (const metric of p.metrics || []) {
        if (!metric.name || metric.alias === undefined || !metric.type || !metric.timestamp) {
          broken.push(`${where}: metric ${JSON.stringify(metric)} lacks name, alias, type or time`);
        }
        if (aliases.has(metric.alias)) broken.push(`${where}: alias ${metric.alias} born twice`);
        aliases.set(metric.alias, metric.type);
        born.get(device).add(metric.alias);
      }
    } else if (verb === 'DDEATH') {
      for (const alias of born.get(device) || []) aliases.delete(alias);
      born.delete(device);
    } else if (verb === 'DDATA') {
      if (!born.has(device)) broken.push(`${where}: DDATA of a device not born`);
      for (const metric of p.metrics || []) {
        if (!born.has(device) || !born.get(device).has(metric.alias)) {
          broken.push(`${where}: alias ${metric.alias} was not born for ${device}`);
        } else if (aliases.get(metric.alias) !== metric.type) {
          broken.push(`${where}: alias ${metric.alias} is ${metric.type}, born ${aliases.get(metric.alias)}`);
        }
      }
    }
    for (const metric of p.metrics || []) {
      if (metric.isNull && !(metric.properties && metric.properties.Quality)) {
        broken.push(`${where}: null metric ${metric.alias} without its Quality`);
      }
    }
  });
  broken.forEach((line) => console.log(line));
  console.log(`${lines.length} messages judged, ${broken.length} rules broken`);
  process.exit(broken.length === 0 ? 0 : 1);
}

function publish(port, topic, json) {
  const bytes = codec.encodePayload(JSON.parse(json));
  childProcess.execFileSync('mosquitto_pub', ['-h', '127.0.0.1', '-p', port, '-q', '1', '-t', topic, '-s'],
                            { input: Buffer.from(bytes) });
}

const [command, ...args] = process.argv.slice(2);
({ watch, check, publish })[command](...args);
