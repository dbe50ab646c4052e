// Throughput of the reference implementation (ts-fsrs) on the inputs of a vector file, to set against
// bench/bench_scheduler (BM_StudySchedulerReview/0 and BM_Fsrs6Next/0 use the same inputs).
//
// Usage: node bench.mjs [../../tests/fixtures/fsrs6-vectors.jsonl] [--seconds 3] [--runs 5]
//
// Reports reviews per second for two ways of calling it, each the median of the runs, measured both in
// wall-clock time and in process CPU time (the latter is steadier on a busy machine):
// - "scheduler per review": fsrs(parameters) built for every review, like Quenda builds a scheduler for
//   every rating;
// - "scheduler per retention": one fsrs instance per retention value, built before timing (the
//   reference at its fastest).

import { readFileSync } from 'node:fs';
import { fsrs, generatorParameters } from 'ts-fsrs';

const argv = process.argv.slice(2);
const option = (name, fallback) => {
  const i = argv.indexOf(`--${name}`);
  return i >= 0 ? Number(argv[i + 1]) : fallback;
};
const file = argv.find((a, i) => !a.startsWith('--') && !(i > 0 && argv[i - 1].startsWith('--')))
  ?? new URL('../../tests/fixtures/fsrs6-vectors.jsonl', import.meta.url);
const seconds = option('seconds', 3);
const runs = option('runs', 5);

const parametersFor = (retention) =>
  generatorParameters({
    request_retention: retention,
    maximum_interval: 36500,
    enable_fuzz: false,
    enable_short_term: true,
    learning_steps: ['1m', '10m'],
    relearning_steps: ['10m'],
  });

const inputs = readFileSync(file, 'utf8')
  .split('\n')
  .filter((line) => line.length > 0)
  .map((line) => {
    const { card, now, grade, retention } = JSON.parse(line);
    return {
      card: {
        due: new Date(card.due),
        stability: card.stability,
        difficulty: card.difficulty,
        elapsed_days: card.elapsedDays,
        scheduled_days: card.scheduledDays,
        learning_steps: card.learningSteps,
        reps: card.reps,
        lapses: card.lapses,
        state: card.stage,
        last_review: card.lastReview === undefined ? undefined : new Date(card.lastReview),
      },
      now: new Date(now),
      grade,
      retention,
    };
  });

const cached = new Map();
for (const input of inputs) {
  if (!cached.has(input.retention)) cached.set(input.retention, fsrs(parametersFor(input.retention)));
}

const variants = {
  'scheduler per review': (input) => fsrs(parametersFor(input.retention)).next(input.card, input.now, input.grade),
  'scheduler per retention': (input) => cached.get(input.retention).next(input.card, input.now, input.grade),
};

function measure(review) {
  let count = 0;
  let sink = 0;
  const wallStart = process.hrtime.bigint();
  const cpuStart = process.cpuUsage();
  const deadline = wallStart + BigInt(Math.round(seconds * 1e9));
  for (;;) {
    for (let i = 0; i < inputs.length; ++i) sink += review(inputs[i]).card.reps;
    count += inputs.length;
    if (process.hrtime.bigint() >= deadline) break;
  }
  const wall = Number(process.hrtime.bigint() - wallStart) / 1e9;
  const cpu = process.cpuUsage(cpuStart);
  if (sink === 0) throw new Error('no work done');
  return { wall: count / wall, cpu: count / ((cpu.user + cpu.system) / 1e6) };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const format = (perSecond) => `${Math.round(perSecond).toLocaleString('en-US')}/s`;

console.log(`ts-fsrs on ${inputs.length} review steps from ${file}, ${runs} runs of ${seconds} s (median)`);
for (const [name, review] of Object.entries(variants)) {
  measure(review); // warm-up: let the JIT settle
  const results = Array.from({ length: runs }, () => measure(review));
  console.log(
    `${name.padEnd(24)} wall ${format(median(results.map((r) => r.wall))).padStart(12)}` +
      `   cpu ${format(median(results.map((r) => r.cpu))).padStart(12)}`,
  );
}
