// A scripted sync editor on the WebSocket port's terms, for the browser
// test: a WebSocket server on 127.0.0.1 (node's own http and crypto, no
// package) that takes a page's greeting as a text message, answers it, and
// then hands over each binary message (one command each) and sends
// commands as binary messages of their own.
//
//   const editor = await syncEditor();   // editor.port, editor.greeted,
//   editor.messages (the page's commands), editor.send(bytes), editor.close()
import { createHash } from "node:crypto";
import { createServer } from "node:http";

const WEBSOCKET_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
const OPCODE_TEXT = 1, OPCODE_BINARY = 2, OPCODE_CLOSE = 8;

// One frame from the server (never masked).
function frame(opcode, payload) {
  const length = payload.length;
  const head = length < 126 ? Buffer.from([0x80 | opcode, length])
    : Buffer.from([0x80 | opcode, 126, length >> 8, length & 255]);
  return Buffer.concat([head, payload]);
}

export async function syncEditor() {
  const editor = { port: 0, greeted: false, messages: [], socket: null };
  const server = createServer();
  server.on("upgrade", (request, socket) => {
    const accept = createHash("sha1").update(request.headers["sec-websocket-key"] + WEBSOCKET_GUID).digest("base64");
    socket.write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
      `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);
    editor.socket = socket;
    let pending = Buffer.alloc(0);
    socket.on("data", (data) => {
      pending = Buffer.concat([pending, data]);
      // Client frames: FIN and opcode, the masked length (7 bits, or 16 after 126), the mask, the payload.
      while (pending.length >= 6) {
        const opcode = pending[0] & 15;
        let length = pending[1] & 127, at = 2;
        if (length === 126) { length = pending.readUInt16BE(2); at = 4; }
        if (pending.length < at + 4 + length) break;
        const mask = pending.subarray(at, at + 4);
        const payload = Buffer.from(pending.subarray(at + 4, at + 4 + length).map((b, i) => b ^ mask[i % 4]));
        pending = pending.subarray(at + 4 + length);
        if (opcode === OPCODE_TEXT && payload.toString() === "hello, synctracker!") {
          editor.greeted = true;
          socket.write(frame(OPCODE_TEXT, Buffer.from("hello, demo!")));
        } else if (opcode === OPCODE_BINARY) {
          editor.messages.push(payload);
        } else if (opcode === OPCODE_CLOSE) {
          socket.end();
        }
      }
    });
    socket.on("error", () => {});
  });
  await new Promise((done) => server.listen(0, "127.0.0.1", done));
  editor.port = server.address().port;
  editor.send = (bytes) => editor.socket && editor.socket.write(frame(OPCODE_BINARY, Buffer.from(bytes)));
  editor.close = () => {
    if (editor.socket) editor.socket.destroy();
    server.close();
  };
  return editor;
}
