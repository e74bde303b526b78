// How long to wait before the next try to reconnect (or to select again after a
// failure): doubling from first up to max, each wait drawn between half of that and all
// of it, so that clients cut off together do not come back together.

export const schedule = Object.freeze({ first: 1000, max: 30000 });

// The wait in milliseconds before try number attempt (0 for the first); random() in [0, 1).
export function retryDelay(attempt, random = Math.random, { first, max } = schedule) {
    const n = Number.isFinite(attempt) && attempt > 0 ? Math.floor(attempt) : 0;
    const ceiling = Math.min(max, first * 2 ** Math.min(n, 30));
    return Math.round(ceiling / 2 + (random() * ceiling) / 2);
}
