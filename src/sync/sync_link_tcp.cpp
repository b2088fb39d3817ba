// The link to the editor over TCP: a non-blocking socket, connected
// without waiting, its output queued while the editor is slow to take it.
// The host name is looked up once, when the link is made.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "sync/sync_internal.h"
#include "util/alloc.h"

// Output the editor has not taken yet beyond which it counts as gone.
constexpr uint32_t SYNC_LINK_MAX_PENDING_BYTES = 1u << 20;
constexpr int SYNC_LINK_WHY_BYTES = 160;
constexpr long NANOSECONDS_PER_MILLISECOND = 1000000;

struct SyncLink {
    sockaddr_storage address;
    socklen_t address_bytes;
    int fd;              // -1 while closed
    bool connected;
    ByteBuffer *pending; // output not sent yet
    char why[SYNC_LINK_WHY_BYTES];
};

static int fail(SyncLink *link, const char *why) {
    snprintf(link->why, sizeof link->why, "%s", why);
    sync_link_stop(link);
    return -1;
}

SyncLink *sync_link_create(const char *host, int port, char *why, int why_bytes) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    char service[16];
    snprintf(service, sizeof service, "%d", port);
    addrinfo *found = nullptr;
    const int error = getaddrinfo(host, service, &hints, &found);
    if (error != 0) {
        snprintf(why, static_cast<size_t>(why_bytes), "%s", gai_strerror(error));
        return nullptr;
    }
    // IPv4 first: "localhost" often names ::1 first, where editors that
    // listen on 127.0.0.1 alone are not.
    const addrinfo *chosen = found;
    for (const addrinfo *a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    SyncLink *link = static_cast<SyncLink *>(engine_calloc(1, sizeof(SyncLink)));
    ByteBuffer *pending = bytebuffer_create(1024);
    if (!link || !pending || chosen->ai_addrlen > sizeof link->address) {
        freeaddrinfo(found);
        engine_free(link);
        bytebuffer_destroy(pending);
        snprintf(why, static_cast<size_t>(why_bytes), "out of memory");
        return nullptr;
    }
    memcpy(&link->address, chosen->ai_addr, chosen->ai_addrlen);
    link->address_bytes = chosen->ai_addrlen;
    link->fd = -1;
    link->pending = pending;
    freeaddrinfo(found);
    return link;
}

void sync_link_destroy(SyncLink *link) {
    if (!link) return;
    sync_link_stop(link);
    bytebuffer_destroy(link->pending);
    engine_free(link);
}

void sync_link_stop(SyncLink *link) {
    if (!link) return;
    if (link->fd >= 0) close(link->fd);
    link->fd = -1;
    link->connected = false;
    link->pending->length = 0;
}

int sync_link_start(SyncLink *link) {
    sync_link_stop(link);
    link->fd = socket(link->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link->fd < 0) return fail(link, strerror(errno));
    // Commands are small and each is wanted at once.
    const int on = 1;
    setsockopt(link->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(link->fd, reinterpret_cast<const sockaddr *>(&link->address), link->address_bytes) == 0)
        link->connected = true;
    else if (errno != EINPROGRESS)
        return fail(link, strerror(errno));
    return 0;
}

// Sends what is pending as far as the socket takes it: 0, or -1.
static int flush(SyncLink *link) {
    uint32_t sent = 0;
    while (sent < link->pending->length) {
        const ssize_t n = send(link->fd, link->pending->data + sent, link->pending->length - sent,
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n <= 0) return fail(link, strerror(errno));
        sent += static_cast<uint32_t>(n);
    }
    memmove(link->pending->data, link->pending->data + sent, link->pending->length - sent);
    link->pending->length -= sent;
    return 0;
}

int sync_link_poll(SyncLink *link) {
    if (link->fd < 0) return -1;
    if (!link->connected) {
        pollfd p = {link->fd, POLLOUT, 0};
        if (poll(&p, 1, 0) <= 0) return 0;
        int error = 0;
        socklen_t error_bytes = sizeof error;
        if (getsockopt(link->fd, SOL_SOCKET, SO_ERROR, &error, &error_bytes) != 0) error = errno;
        if (error != 0) return fail(link, strerror(error));
        link->connected = true;
    }
    return flush(link) == 0 ? 1 : -1;
}

int sync_link_send(SyncLink *link, const uint8_t *bytes, int n, bool greeting) {
    (void)greeting;  // a plain byte stream: the greeting is bytes like the rest
    if (link->fd < 0) return -1;
    if (link->pending->length + static_cast<uint32_t>(n) > SYNC_LINK_MAX_PENDING_BYTES)
        return fail(link, "the editor takes nothing it is sent");
    if (bytebuffer_append_bytes(link->pending, bytes, static_cast<uint64_t>(n)) < 0)
        return fail(link, "out of memory");
    return link->connected ? flush(link) : 0;
}

int sync_link_receive(SyncLink *link, uint8_t *buffer, int capacity) {
    if (link->fd < 0 || !link->connected) return -1;
    if (flush(link) != 0) return -1;
    for (;;) {
        const ssize_t n = recv(link->fd, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return fail(link, "the editor closed the connection");
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return fail(link, strerror(errno));
    }
}

int sync_default_port(void) { return SYNC_TCP_PORT; }

const char *sync_link_why(const SyncLink *link) { return link ? link->why : ""; }

double sync_link_now_seconds(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int sync_link_wait(int ms) {
    const timespec pause = {ms / 1000, (ms % 1000) * NANOSECONDS_PER_MILLISECOND};
    nanosleep(&pause, nullptr);
    return 0;
}
