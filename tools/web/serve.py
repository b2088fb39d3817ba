#!/usr/bin/env python3
"""Serves the browser build's pages on 127.0.0.1 (make web-serve, and the
pages' test): each program's NAME.html and the files it loads (NAME.js,
NAME.wasm, NAME.data), page.js, page.css, index.html and its pictures
(shots/*.png). Nothing else of the folder (CMake's cache and files, the
object files) is served, and no folder is listed.

    tools/web/serve.py WEB_BUILD [PORT]

The port (default 8000; 0: one the system chooses) is bound before the
address is announced, on one line on standard output. A port in use is one
line on standard error and status 1; Ctrl-C ends the server quietly."""
import errno
import http.server
import os
import re
import sys

# Whole names, relative to the folder: what a page and the index load.
SERVED = re.compile(r"^(?:[A-Za-z0-9_]+\.(?:html|js|wasm|data)|page\.css|shots/[A-Za-z0-9_]+\.png)$")


class PageHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".data": "application/octet-stream",
                      ".js": "text/javascript"}

    def send_head(self):
        path = self.path.split("?", 1)[0].split("#", 1)[0]
        name = "index.html" if path == "/" else path.lstrip("/")
        if not SERVED.match(name) or not os.path.isfile(os.path.join(self.directory, name)):
            self.send_error(404, "Not a file of the pages")
            return None
        self.path = "/" + name
        return super().send_head()

    def log_message(self, format, *args):
        pass


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write("usage: serve.py WEB_BUILD [PORT]\n")
        return 2
    folder = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) == 3 else 8000
    handler = lambda *args, **kwargs: PageHandler(*args, directory=folder, **kwargs)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    except OSError as error:
        if error.errno == errno.EADDRINUSE:
            sys.stderr.write(f"make web-serve: port {port} is in use (another server?); "
                             f"PORT={port + 1} make web-serve chooses another\n")
        else:
            sys.stderr.write(f"make web-serve: cannot serve on port {port}: {error.strerror}\n")
        return 1
    print(f"make web-serve: the pages are on http://127.0.0.1:{server.server_port}/ (Ctrl-C ends)", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
