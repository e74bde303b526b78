// Keeping conversations on the device: only for a user who turned it on, in this
// browser's local storage, under the user's name. Turning it off removes what was kept.

const flagKey = (user) => 'quillspeak.keep.' + user;
const dataKey = (user) => 'quillspeak.history.' + user;

export class History {
    #storage;

    constructor(storage) {
        this.#storage = storage;
    }

    isOn(user) {
        try {
            return this.#storage?.getItem(flagKey(user)) === 'on';
        } catch {
            return false;
        }
    }

    // Turns it on; false when this browser keeps nothing.
    turnOn(user) {
        try {
            this.#storage.setItem(flagKey(user), 'on');
            return true;
        } catch {
            return false;
        }
    }

    turnOff(user) {
        try {
            this.#storage?.removeItem(flagKey(user));
            this.#storage?.removeItem(dataKey(user));
        } catch {
            // nothing was kept
        }
    }

    // What was kept, as saved; null when nothing (or nothing readable) was.
    load(user) {
        if (!this.isOn(user))
            return null;
        try {
            return JSON.parse(this.#storage.getItem(dataKey(user)) ?? 'null');
        } catch {
            return null;
        }
    }

    // False when it could not be kept (storage full or refused).
    save(user, data) {
        if (!this.isOn(user))
            return true;
        try {
            this.#storage.setItem(dataKey(user), JSON.stringify(data));
            return true;
        } catch {
            return false;
        }
    }
}
