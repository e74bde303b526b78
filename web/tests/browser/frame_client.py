"""A client of the server's TCP port: each request and reply is one frame, a 4-byte
little-endian command id, the UTF-8 text and one NUL."""
import socket
import struct

REPLY_WAIT = 30  # seconds a reply may take; a parked select included


class FrameClient:
    def __init__(self, port):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=REPLY_WAIT)
        self.buffer = b''
        self.last_id = 0

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def ask(self, command):
        """Sends one command and returns the text of its reply."""
        self.last_id += 1
        self.sock.sendall(struct.pack('<i', self.last_id) + command.encode('utf-8') + b'\0')
        while True:
            cid, text = self._next()
            if cid == self.last_id:
                return text

    def _next(self):
        while b'\0' not in self.buffer[4:]:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError('the server closed the connection')
            self.buffer += chunk
        end = self.buffer.index(b'\0', 4)
        (cid,) = struct.unpack('<i', self.buffer[:4])
        text = self.buffer[4:end].decode('utf-8', errors='replace')
        self.buffer = self.buffer[end + 1:]
        return cid, text
