// Desktop notifications of messages that arrive while the tab is hidden, once the user
// turned them on and the browser allowed them.

export class Notifier {
    #on = false;
    #window;

    constructor(win = globalThis) {
        this.#window = win;
    }

    get supported() {
        return typeof this.#window.Notification === 'function';
    }

    get on() {
        return this.#on && this.supported && this.#window.Notification.permission === 'granted';
    }

    // Asks the browser when needed; the permission it ended with ('granted', 'denied',
    // 'default', or 'unsupported').
    async turnOn() {
        if (!this.supported)
            return 'unsupported';
        const N = this.#window.Notification;
        const permission = N.permission === 'default' ? await N.requestPermission() : N.permission;
        this.#on = permission === 'granted';
        return permission;
    }

    turnOff() {
        this.#on = false;
    }

    // Shown only while the page is hidden; the title and body are plain text.
    notify(title, body, tag, onClick) {
        if (!this.on || !this.#window.document.hidden)
            return;
        const n = new this.#window.Notification(title, { body, tag });
        n.addEventListener('click', () => {
            this.#window.focus();
            onClick();
            n.close();
        });
    }
}
