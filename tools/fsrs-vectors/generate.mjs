// Writes reference vectors for Quenda's FSRS-6 scheduler to stdout, one JSON line per review step:
//   {"card": {...}, "now": ms, "grade": 1..4, "retention": r, "expected": {...}}
// Cards use the memory-state field names (due, stability, difficulty, elapsedDays, scheduledDays,
// learningSteps, reps, lapses, stage, lastReview) with times in milliseconds since 1970; the same shape
// is what `quenda-cli schedule` reads and writes.
//
// Each card starts new and is reviewed many times; every step's input is the reference's output of the
// step before, so the vectors follow realistic histories. A few steps alter the input first (a stale
// step index, another stage) to cover states that only damaged or imported data can hold; those lines
// carry "altered": true.
//
// Usage: node generate.mjs [--seed N] [--cards N] > ../../tests/fixtures/fsrs6-vectors.jsonl

import { Rating, State, createEmptyCard, fsrs, generatorParameters } from 'ts-fsrs';

const args = Object.fromEntries(
  process.argv.slice(2).reduce((pairs, arg, i, all) => {
    if (arg.startsWith('--')) pairs.push([arg.slice(2), all[i + 1]]);
    return pairs;
  }, []),
);
const seed = Number(args.seed ?? 20261211);
const cardCount = Number(args.cards ?? 260);

// mulberry32: small, seeded, good enough to spread the cases.
let rngState = seed >>> 0;
function random() {
  rngState = (rngState + 0x6d2b79f5) >>> 0;
  let t = rngState;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
const between = (lo, hi) => lo + Math.floor(random() * (hi - lo + 1));
const pick = (weighted) => {
  let x = random() * weighted.reduce((sum, [w]) => sum + w, 0);
  for (const [w, value] of weighted) {
    if ((x -= w) < 0) return value;
  }
  return weighted[weighted.length - 1][1];
};

const MINUTE = 60_000;
const HOUR = 60 * MINUTE;
const DAY = 24 * HOUR;
const nextMidnight = (ms) => (Math.floor(ms / DAY) + 1) * DAY;

const schedulers = new Map();
function schedulerFor(retention) {
  if (!schedulers.has(retention)) {
    schedulers.set(
      retention,
      fsrs(
        generatorParameters({
          request_retention: retention,
          maximum_interval: 36500,
          enable_fuzz: false,
          enable_short_term: true,
          learning_steps: ['1m', '10m'],
          relearning_steps: ['10m'],
        }),
      ),
    );
  }
  return schedulers.get(retention);
}

function toJson(card) {
  const out = {
    due: card.due.getTime(),
    stability: card.stability,
    difficulty: card.difficulty,
    elapsedDays: card.elapsed_days,
    scheduledDays: card.scheduled_days,
    learningSteps: card.learning_steps,
    reps: card.reps,
    lapses: card.lapses,
    stage: card.state,
  };
  if (card.last_review) out.lastReview = card.last_review.getTime();
  return out;
}

// When the next review happens, from the last one (or the card's creation) and the due time.
function nextReviewTime(card, from) {
  const due = card.due.getTime();
  switch (pick([[15, 'due'], [12, 'seconds'], [14, 'sameDay'], [12, 'midnight'], [20, 'days'], [15, 'months'],
                [12, 'aroundDue']])) {
    case 'due':
      return Math.max(from, due + between(0, 5 * MINUTE));
    case 'seconds':
      return from + (random() < 0.1 ? 0 : between(1, 120_000));
    case 'sameDay': {
      const room = nextMidnight(from) - 1 - from;
      return from + (room > 0 ? between(0, room) : between(1, 60_000));
    }
    case 'midnight': {
      // Just before or just after the first UTC midnight following the last review.
      const midnight = nextMidnight(from);
      const before = midnight - between(1, 10 * MINUTE);
      return random() < 0.4 && before >= from ? before : midnight + between(0, 10 * MINUTE);
    }
    case 'days':
      return from + between(1, 30) * DAY + between(-12 * HOUR, 12 * HOUR);
    case 'months':
      return from + between(30, 400) * DAY + between(0, DAY - 1);
    default:
      return Math.max(from, due + between(-3 * DAY, 3 * DAY));
  }
}

// Changes that only damaged or imported data can make, kept within what Quenda's checks accept.
function alter(card) {
  const altered = { ...card };
  switch (between(0, 3)) {
    case 0:
      altered.learning_steps = between(1, 3);
      break;
    case 1:
      altered.state = pick([[1, State.Learning], [1, State.Review], [1, State.Relearning]]);
      break;
    case 2:
      altered.state = State.New; // a reset stage that kept its memory
      break;
    default:
      altered.state = pick([[1, State.Learning], [1, State.Review], [1, State.Relearning]]);
      altered.learning_steps = between(0, 2);
      break;
  }
  return altered;
}

const lines = [];
for (let c = 0; c < cardCount; ++c) {
  const created = Date.UTC(2020, 0, 1) + between(0, 6 * 365) * DAY + between(0, DAY - 1);
  let card = createEmptyCard(new Date(created));
  let last = created;
  const reviews = between(12, 30);
  for (let r = 0; r < reviews; ++r) {
    let input = card;
    let altered = false;
    if (card.reps > 0 && random() < 0.03) {
      input = alter(card);
      altered = true;
    }
    const now = nextReviewTime(input, last);
    const grade = pick([[20, Rating.Again], [20, Rating.Hard], [40, Rating.Good], [20, Rating.Easy]]);
    const retention = random() < 0.5 ? between(70, 97) / 100 : 0.7 + random() * 0.27;
    const output = schedulerFor(retention).next(input, new Date(now), grade).card;
    const line = { card: toJson(input), now, grade, retention, expected: toJson(output) };
    if (altered) line.altered = true;
    lines.push(JSON.stringify(line));
    card = output;
    last = now;
  }
}
process.stdout.write(lines.join('\n') + '\n');
process.stderr.write(`${lines.length} steps over ${cardCount} cards\n`);
