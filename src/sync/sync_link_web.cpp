// The link to the editor in the browser: the page's own WebSocket to
// ws://host:port (the editor's port 1339), since a page cannot open a TCP
// connection. The greeting goes as a text message and every command as a
// binary message of its own; received messages, text or binary, are handed
// on as one stream of bytes. The socket opens and messages arrive while the
// program yields to the browser (between frames), so sync_connect only
// starts the attempt there and the updates complete it.
#include <emscripten.h>

#include <cstdio>

#include "sync/sync_internal.h"
#include "util/alloc.h"

constexpr int SYNC_LINK_URL_BYTES = 320;
constexpr int SYNC_LINK_WHY_BYTES = 160;

struct SyncLink {
    char url[SYNC_LINK_URL_BYTES];
    int socket;  // the page's handle, 0 while closed
    char why[SYNC_LINK_WHY_BYTES];
};

// The page's WebSockets, by handle: each with its received messages not yet
// taken (the first from `offset` on) and its state (0 connecting, 1 open,
// -1 failed or closed).
EM_JS(int, web_socket_open, (const char *url), {
    const all = Module.kevoSockets || (Module.kevoSockets = {next : 1, open : {}});
    let ws;
    try {
        ws = new WebSocket(UTF8ToString(url));
    } catch (e) {
        return 0;
    }
    ws.binaryType = "arraybuffer";
    const id = all.next++;
    const s = {ws : ws, queue : [], offset : 0, state : 0};
    all.open[id] = s;
    ws.onopen = function() { s.state = 1; };
    ws.onmessage = function(e) {
        s.queue.push(typeof e.data === "string" ? new TextEncoder().encode(e.data) : new Uint8Array(e.data));
    };
    ws.onclose = function() { s.state = -1; };
    ws.onerror = function() { s.state = -1; };
    return id;
});

EM_JS(int, web_socket_state, (int id), {
    const s = Module.kevoSockets && Module.kevoSockets.open[id];
    return s ? s.state : -1;
});

EM_JS(int, web_socket_send, (int id, const uint8_t *bytes, int n, int text), {
    const s = Module.kevoSockets && Module.kevoSockets.open[id];
    if (!s || s.state != 1) return -1;
    const data = HEAPU8.slice(bytes, bytes + n);
    s.ws.send(text ? new TextDecoder().decode(data) : data);
    return 0;
});

EM_JS(int, web_socket_receive, (int id, uint8_t *buffer, int capacity), {
    const s = Module.kevoSockets && Module.kevoSockets.open[id];
    if (!s) return -1;
    let n = 0;
    while (n < capacity && s.queue.length > 0) {
        const message = s.queue[0];
        const take = Math.min(capacity - n, message.length - s.offset);
        HEAPU8.set(message.subarray(s.offset, s.offset + take), buffer + n);
        n += take;
        s.offset += take;
        if (s.offset == message.length) {
            s.queue.shift();
            s.offset = 0;
        }
    }
    return n > 0 ? n : (s.state < 0 ? -1 : 0);
});

EM_JS(void, web_socket_close, (int id), {
    const s = Module.kevoSockets && Module.kevoSockets.open[id];
    if (!s) return;
    s.ws.onclose = s.ws.onerror = s.ws.onmessage = null;
    s.ws.close();
    delete Module.kevoSockets.open[id];
});

SyncLink *sync_link_create(const char *host, int port, char *why, int why_bytes) {
    SyncLink *link = static_cast<SyncLink *>(engine_calloc(1, sizeof(SyncLink)));
    if (!link) {
        snprintf(why, static_cast<size_t>(why_bytes), "out of memory");
        return nullptr;
    }
    const int n = snprintf(link->url, sizeof link->url, "ws://%s:%d", host, port);
    if (n < 0 || n >= static_cast<int>(sizeof link->url)) {
        engine_free(link);
        snprintf(why, static_cast<size_t>(why_bytes), "the host name is too long");
        return nullptr;
    }
    return link;
}

void sync_link_destroy(SyncLink *link) {
    if (!link) return;
    sync_link_stop(link);
    engine_free(link);
}

void sync_link_stop(SyncLink *link) {
    if (!link || link->socket == 0) return;
    web_socket_close(link->socket);
    link->socket = 0;
}

int sync_link_start(SyncLink *link) {
    sync_link_stop(link);
    link->socket = web_socket_open(link->url);
    if (link->socket == 0) {
        snprintf(link->why, sizeof link->why, "the browser refused the WebSocket %s", link->url);
        return -1;
    }
    return 0;
}

int sync_link_poll(SyncLink *link) {
    const int state = link->socket ? web_socket_state(link->socket) : -1;
    if (state < 0) snprintf(link->why, sizeof link->why, "the WebSocket %s failed or closed", link->url);
    return state;
}

int sync_link_send(SyncLink *link, const uint8_t *bytes, int n, bool greeting) {
    return link->socket ? web_socket_send(link->socket, bytes, n, greeting ? 1 : 0) : -1;
}

int sync_link_receive(SyncLink *link, uint8_t *buffer, int capacity) {
    const int n = link->socket ? web_socket_receive(link->socket, buffer, capacity) : -1;
    if (n < 0) snprintf(link->why, sizeof link->why, "the WebSocket %s closed", link->url);
    return n;
}

int sync_default_port(void) { return SYNC_WEBSOCKET_PORT; }

const char *sync_link_why(const SyncLink *link) { return link ? link->why : ""; }

double sync_link_now_seconds(void) { return emscripten_get_now() / 1000.0; }

// The page's WebSocket opens and delivers only while the program yields
// between frames; a wait inside start-up would not let it.
int sync_link_wait(int ms) {
    (void)ms;
    return -1;
}
