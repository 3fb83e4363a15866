// The Sparkplug B judge: Eclipse Tahu's own codec (npm's sparkplug-payload, in TAV_JUDGE_MODULES).
// watch PORT LOG: each message on spBv1.0/# decoded, one JSON line in LOG ("ready" first); check
// PORT LOG: the session's rules, a line per rule broken; publish PORT LOG TOPIC JSON: a command.
'use strict';
const childProcess = require('child_process'), fs = require('fs');
const codec = require(`${process.env.TAV_JUDGE_MODULES}/sparkplug-payload`).get('spBv1.0');
const plain = (key, v) => (v && typeof v.toNumber === 'function' ? v.toNumber() : v);

function watch(port, log) {
  // Line-buffered: each message is in the log as it arrives.
  const sub = childProcess.spawn('stdbuf', ['-oL', 'mosquitto_sub', '-h', '127.0.0.1', '-p', port,
                                            '-q', '1', '-d', '-t', 'spBv1.0/#', '-F', '%t %x']);
  require('readline').createInterface({ input: sub.stdout }).on('line', (line) => {
    if (line.includes('received SUBACK')) fs.appendFileSync(log, '"ready"\n');
    if (!line.startsWith('spBv1.0/')) return;
    const [topic, hex] = line.split(' '), bytes = Buffer.from(hex || '', 'hex');
    const entry = { topic, levels: topic.split('/') };
    try {
      entry.payload = entry.levels[1] === 'STATE' ? bytes.toString() : codec.decodePayload(bytes);
    } catch (error) {
      entry.error = String(error);
    }
    fs.appendFileSync(log, JSON.stringify(entry, plain) + '\n');
  });
  process.on('SIGTERM', () => { sub.kill(); process.exit(0); });
}

function check(port, log) {
  const broken = [];
  const lines = fs.readFileSync(log, 'utf8').split('\n').filter((l) => l.startsWith('{'));
  let birthSeq = null, lastSeq = null, aliases = null, born = new Map();
  const metricOf = (p, name) => (p.metrics || []).find((m) => m.name === name) || {};
  const unborn = (device) => (born.get(device) || []).forEach((alias) => aliases.delete(alias));
  lines.map((l) => JSON.parse(l)).forEach((m, at) => {
    const fault = (what) => broken.push(`message ${at} ${m.topic}: ${what}`);
    const [, group, verb, , device] = m.levels, p = m.payload;
    if (group === 'STATE' || verb === 'NCMD' || verb === 'DCMD') return;  // the host's
    if (m.error) return fault(`Tahu cannot decode it: ${m.error}`);
    const bdSeq = metricOf(p, 'bdSeq');
    if (verb === 'NDEATH') {
      if (bdSeq.value !== birthSeq) fault(`bdSeq ${bdSeq.value}, NBIRTH's ${birthSeq}`);
      if (p.seq !== undefined) fault('an NDEATH carries no seq');
      aliases = null;
    } else if (verb === 'NBIRTH') {
      if (p.seq !== 0) fault(`seq ${p.seq}, not 0`);
      if (bdSeq.type !== 'Int64') fault('no Int64 bdSeq');
      if (metricOf(p, 'Node Control/Rebirth').type !== 'Boolean') fault('no Node Control/Rebirth');
      const next = birthSeq === null || [birthSeq, (birthSeq + 1) % 256].includes(bdSeq.value);
      if (!next) fault(`bdSeq ${bdSeq.value} after ${birthSeq}`);
      [birthSeq, lastSeq, aliases, born] = [bdSeq.value, 0, new Map(), new Map()];
    } else if (aliases === null) {
      fault("before the node's NBIRTH");
    } else {
      if (p.seq !== (lastSeq + 1) % 256) fault(`seq ${p.seq} after ${lastSeq}`);
      lastSeq = p.seq;
      if (!p.timestamp) fault('no timestamp');
      if (verb === 'DDEATH' || verb === 'DBIRTH') unborn(device);
      if (verb === 'DDEATH') born.delete(device);
      if (verb === 'DBIRTH') born.set(device, new Set());
      if (verb === 'DDATA' && !born.has(device)) fault('DDATA of a device not born');
      for (const metric of p.metrics || []) {
        if (verb === 'DBIRTH') {
          const whole = metric.name && metric.alias !== undefined && metric.type && metric.timestamp;
          if (!whole) fault(`metric ${JSON.stringify(metric)} lacks name, alias, type or time`);
          if (aliases.has(metric.alias)) fault(`alias ${metric.alias} born twice`);
          aliases.set(metric.alias, metric.type);
          born.get(device).add(metric.alias);
        } else if (!(born.get(device) || new Set()).has(metric.alias)) {
          fault(`alias ${metric.alias} was not born for ${device}`);
        } else if (aliases.get(metric.alias) !== metric.type) {
          fault(`alias ${metric.alias} is ${metric.type}, born ${aliases.get(metric.alias)}`);
        }
        const quality = (metric.properties || {}).Quality;
        if (metric.value === null && !quality) fault(`null metric ${metric.alias} without quality`);
      }
    }
  });
  console.log([...broken, `${lines.length} messages judged, ${broken.length} rules broken`].join('\n'));
  process.exit(broken.length === 0 ? 0 : 1);
}

function publish(port, log, topic, json) {
  childProcess.execFileSync('mosquitto_pub', ['-h', '127.0.0.1', '-p', port, '-q', '1', '-t', topic,
                                              '-s'], { input: codec.encodePayload(JSON.parse(json)) });
}

({ watch, check, publish })[process.argv[2]](...process.argv.slice(3));
