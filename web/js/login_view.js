// The login screen: log in, or create an account with its recovery question.
import { byId, say } from './dom.js';

export class LoginView {
    #screen = byId('login-screen');
    #user = byId('user');
    #password = byId('password');
    #question = byId('question');
    #answer = byId('answer');
    #message = byId('login-message');
    #buttons = [byId('login'), byId('create')];

    // onLogIn(user, password) and onCreate(user, password, question, answer), each
    // after the fields it needs are filled in.
    constructor({ onLogIn, onCreate }) {
        byId('login-form').addEventListener('submit', (e) => {
            e.preventDefault();
            const user = this.#user.value.trim();
            if (user === '')
                return this.#missing(this.#user, 'Enter your user name.');
            onLogIn(user, this.#password.value);
        });
        byId('create').addEventListener('click', () => {
            const user = this.#user.value.trim();
            if (user === '')
                return this.#missing(this.#user, 'Enter the user name you want.');
            if (this.#password.value === '')
                return this.#missing(this.#password, 'Enter the password you want.');
            if (this.#question.value.trim() === '')
                return this.#missing(this.#question, 'Enter a recovery question and its answer.');
            if (this.#answer.value.trim() === '')
                return this.#missing(this.#answer, 'Enter a recovery question and its answer.');
            onCreate(user, this.#password.value, this.#question.value.trim(), this.#answer.value.trim());
        });
    }

    #missing(field, text) {
        this.say(text);
        field.focus();
    }

    show(visible) {
        this.#screen.hidden = !visible;
    }

    busy(on) {
        for (const b of this.#buttons)
            b.disabled = on;
        this.#screen.setAttribute('aria-busy', on ? 'true' : 'false');
    }

    say(text) {
        say(this.#message, text);
    }

    // Nothing secret stays in the fields once the session starts or ends.
    clearSecrets() {
        this.#password.value = '';
        this.#question.value = '';
        this.#answer.value = '';
    }

    focus() {
        (this.#user.value === '' ? this.#user : this.#password).focus();
    }
}
