/* qsbench-baseline PORT: a bare single-threaded epoll server that knows only what
 * `qsbench dm` needs (newuser, login, logout, getmessage, select MSG, sendmessage to a
 * user of this server), with qsserver's frames and replies. Nothing is stored: it is
 * the yardstick qsserver's figures are measured against. */
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

/* A select reply holds at most 1019 bytes, as qsserver's: its label and the entries. */
enum { max_fds = 4096, max_users = 1024, max_name = 64, max_buffered = 1 << 20, max_entries = 1019 - 12 };

struct buffer {
    char* data;
    size_t size, cap;
};
struct conn {
    struct buffer in, out;
    int user; /* logged in as, -1 when not */
};
struct user {
    char name[max_name], password[max_name];
    struct buffer pending; /* entries joined by '|', from offset head on */
    size_t head;
    int fd;               /* logged in on, -1 when not */
    int parked;           /* a select MSG waits */
    unsigned char cid[4]; /* its command id */
};

static struct conn conns[max_fds];
static struct user users[max_users];
static int user_count, dirty[max_fds], dirty_count;

static void append(struct buffer* b, const void* data, size_t n)
{
    if (b->size + n > b->cap) {
        b->cap = (b->size + n) * 2;
        b->data = realloc(b->data, b->cap);
        if (b->data == NULL)
            abort();
    }
    memcpy(b->data + b->size, data, n);
    b->size += n;
}

static void reply(int fd, const unsigned char* cid, const char* text, const char* more, size_t more_size)
{
    if (conns[fd].out.size == 0)
        dirty[dirty_count++] = fd;
    append(&conns[fd].out, cid, 4);
    append(&conns[fd].out, text, strlen(text));
    append(&conns[fd].out, more, more_size);
    append(&conns[fd].out, "", 1);
}

static int find_user(const char* name)
{
    for (int i = 0; i < user_count; ++i)
        if (strcmp(users[i].name, name) == 0)
            return i;
    return -1;
}

/* The oldest entries that fit one reply; the rest wait for the next select. */
static void hand_out(struct user* u)
{
    const char* from = u->pending.data + u->head;
    size_t n = u->pending.size - u->head;
    if (n > max_entries) /* cut before the last '|' that fits: no entry is longer */
        for (n = max_entries; from[n] != '|'; --n)
            ;
    reply(u->fd, u->cid, "getmessage: ", from, n);
    u->head += n < u->pending.size - u->head ? n + 1 : n;
    if (u->head == u->pending.size)
        u->head = u->pending.size = 0;
    u->parked = 0;
}

static void enqueue(struct user* to, const char* from, const char* text)
{
    static time_t stamped_at;
    static char stamp[32];
    const time_t now = time(NULL);
    if (now != stamped_at) {
        struct tm utc;
        gmtime_r(&now, &utc);
        strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
        stamped_at = now;
    }
    if (to->head > 0 && to->head >= to->pending.size / 2) { /* drop what was handed out */
        to->pending.size -= to->head;
        memmove(to->pending.data, to->pending.data + to->head, to->pending.size);
        to->head = 0;
    }
    if (to->pending.size > 0)
        append(&to->pending, "|", 1);
    append(&to->pending, from, strlen(from));
    append(&to->pending, " says: \"", 8);
    append(&to->pending, text, strlen(text));
    append(&to->pending, "\" on ", 5);
    append(&to->pending, stamp, strlen(stamp));
    append(&to->pending, ".", 1);
    if (to->parked)
        hand_out(to);
}

static const char* run(int fd, const unsigned char* cid, char* line)
{
    char* rest = strchr(line, ' ');
    char* arg2 = rest != NULL ? strchr(rest + 1, ' ') : NULL;
    if (rest != NULL)
        *rest++ = '\0';
    const int me = conns[fd].user;
    if (strcmp(line, "newuser") == 0 || strcmp(line, "login") == 0) {
        if (arg2 == NULL || arg2 - rest >= max_name || strlen(arg2 + 1) >= max_name)
            return "Invalid username.";
        *arg2++ = '\0';
        int u = find_user(rest);
        if (line[0] == 'n') {
            if (u >= 0)
                return "The user is already exist.";
            if (user_count == max_users)
                return "The change could not be saved.";
            u = user_count++;
            strcpy(users[u].name, rest);
            strcpy(users[u].password, arg2);
            users[u].fd = -1;
            return "Ok.";
        }
        if (u < 0 || strcmp(users[u].password, arg2) != 0)
            return "Invalid password.";
        if (users[u].fd >= 0 || me >= 0)
            return "The user is already online.";
        users[u].fd = fd;
        conns[fd].user = u;
        return "Ok.";
    }
    if (me < 0)
        return "The user is not online.";
    if (strcmp(line, "logout") == 0) {
        users[me].fd = -1;
        users[me].parked = 0;
        conns[fd].user = -1;
        return "Ok.";
    }
    if (strcmp(line, "getmessage") == 0 || (strcmp(line, "select") == 0 && rest != NULL && !strcmp(rest, "MSG"))) {
        if (users[me].pending.size == 0 && line[0] == 'g')
            return "No messages.";
        memcpy(users[me].cid, cid, 4);
        users[me].parked = 1;
        if (users[me].pending.size > 0)
            hand_out(&users[me]);
        return NULL;
    }
    if (strcmp(line, "sendmessage") == 0 && arg2 != NULL) {
        *arg2++ = '\0';
        const int to = find_user(rest);
        if (to < 0)
            return "Invalid username.";
        if (strlen(users[me].name) + strlen(arg2) + 33 > max_entries) /* the entry would not fit a reply */
            return "The message is too long.";
        enqueue(&users[to], users[me].name, arg2);
        return "Ok.";
    }
    return "Unknown command.";
}

static void drop(int fd)
{
    if (conns[fd].user >= 0) {
        users[conns[fd].user].fd = -1;
        users[conns[fd].user].parked = 0;
    }
    free(conns[fd].in.data);
    free(conns[fd].out.data);
    memset(&conns[fd], 0, sizeof conns[fd]);
    close(fd);
}

/* Reads what is there and runs every whole frame; 0 when the connection is over. */
static int take(int fd)
{
    struct conn* c = &conns[fd];
    char buf[65536];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return 0;
    append(&c->in, buf, (size_t)n);
    size_t begin = 0;
    for (char* nul; c->in.size - begin > 4 && (nul = memchr(c->in.data + begin + 4, '\0', c->in.size - begin - 4));) {
        unsigned char cid[4];
        memcpy(cid, c->in.data + begin, 4);
        const char* text = run(fd, cid, c->in.data + begin + 4);
        if (text != NULL)
            reply(fd, cid, text, NULL, 0);
        begin = (size_t)(nul - c->in.data) + 1;
    }
    memmove(c->in.data, c->in.data + begin, c->in.size - begin);
    c->in.size -= begin;
    return c->in.size < max_buffered;
}

static void flush(int fd)
{
    struct buffer* out = &conns[fd].out;
    size_t sent = 0;
    while (sent < out->size) { /* a bench client reads all it is sent: block if need be */
        const ssize_t n = send(fd, out->data + sent, out->size - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += (size_t)n;
    }
    out->size = 0;
}

int main(int argc, char** argv)
{
    const int port = argc == 2 ? atoi(argv[1]) : -1;
    const int lfd = socket(AF_INET, SOCK_STREAM, 0), one = 1, ep = epoll_create1(0);
    struct sockaddr_in at = {.sin_family = AF_INET, .sin_port = htons((uint16_t)port)};
    socklen_t at_size = sizeof at;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (port < 0 || port > 65535 || bind(lfd, (struct sockaddr*)&at, sizeof at) != 0 || listen(lfd, 512) != 0 ||
        getsockname(lfd, (struct sockaddr*)&at, &at_size) != 0) {
        fprintf(stderr, "usage: qsbench-baseline PORT (on 127.0.0.1; 0: one the kernel picks)\n");
        return 2;
    }
    printf("Listening on 127.0.0.1:%d\n", ntohs(at.sin_port));
    fflush(stdout);
    struct epoll_event ev = {.events = EPOLLIN, .data.fd = lfd}, got[256];
    epoll_ctl(ep, EPOLL_CTL_ADD, lfd, &ev);
    for (;;) {
        const int n = epoll_wait(ep, got, 256, -1);
        for (int i = 0; i < n; ++i) {
            const int fd = got[i].data.fd;
            if (fd == lfd) {
                const int c = accept(lfd, NULL, NULL);
                if (c < 0 || c >= max_fds) {
                    if (c >= 0)
                        close(c);
                    continue;
                }
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                conns[c].user = -1;
                ev.data.fd = c;
                epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
            } else if (!take(fd)) {
                drop(fd);
            }
        }
        for (int i = 0; i < dirty_count; ++i)
            flush(dirty[i]);
        dirty_count = 0;
    }
}
