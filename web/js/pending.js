// Requests waiting for their replies on one connection. Each request is the text frame
// {"id": N, "cmd": LINE} with N increasing from 1; the server answers {"id": N, "reply":
// TEXT}. Replies may come out of order (a parked select answers when something is
// pending), so they are matched by id.

export class ConnectionLost extends Error {
    constructor(message = 'The connection to the server was lost.') {
        super(message);
        this.name = 'ConnectionLost';
    }
}

export class PendingRequests {
    #next = 1;
    #waiting = new Map();  // id -> {resolve, reject}
    #failed = null;  // once set, every request fails with it

    get size() {
        return this.#waiting.size;
    }

    // A new request: the frame to send, and its reply to come.
    add(cmd) {
        const id = this.#next++;
        const frame = JSON.stringify({ id, cmd });
        const reply = new Promise((resolve, reject) => {
            if (this.#failed)
                reject(this.#failed);
            else
                this.#waiting.set(id, { resolve, reject });
        });
        return { id, frame, reply };
    }

    // Settles the request a received frame answers; false when it answers none.
    receive(data) {
        let message;
        try {
            message = JSON.parse(data);
        } catch {
            return false;
        }
        if (message === null || typeof message !== 'object' || typeof message.reply !== 'string')
            return false;
        const waiter = this.#waiting.get(message.id);
        if (!waiter)
            return false;
        this.#waiting.delete(message.id);
        waiter.resolve(message.reply);
        return true;
    }

    // The connection ended: every request waiting and every later one fails with error.
    failAll(error = new ConnectionLost()) {
        this.#failed = error;
        const waiting = [...this.#waiting.values()];
        this.#waiting.clear();
        for (const w of waiting)
            w.reject(error);
    }
}
