"""A tiny IPv6 host on the far side of a QEMU dgram netdev, for the firmware tests.

QEMU sends each Ethernet frame the guest transmits as one UDP datagram to 127.0.0.1 and
takes each datagram it receives as a frame for the guest. This peer reads and writes
those frames itself, so nothing it does leaves the machine. It speaks just enough:

- neighbour discovery (RFC 4861): it answers solicitations for its two addresses and
  answers router solicitations (and repeats every few seconds) with an advertisement of
  one on-link prefix for stateless address configuration (RFC 4862);
- ICMPv6 echo (RFC 4443), so ping6 gets replies;
- fragments for packets larger than the link's 1500 bytes (a 1468-byte TFTP block is
  1520 bytes as IPv6), which the guest's IPv6 reassembles;
- a TFTP server on UDP port 69 (RFC 1350 with the option extension of RFC 2347 and the
  blksize and tsize options of RFC 2348 and RFC 2349): each read request gets its own
  port, blocks are sent one at a time and sent again when their ACK is late;
- an HTTP/1.1 server on TCP port 80 (RFC 9293, RFC 9112): one GET per connection, the
  response cut into segments no larger than the client's MSS, no more in flight than its
  window, sent again from the first unacknowledged byte on a timeout, then FIN.

Files are served from the dict `files` (name without the leading slash -> bytes). A name
under one of these folders gets the file below it served badly on purpose:
  lossy/  the first sending of TFTP block 3, or of the third TCP data segment, is dropped
  cut/    (HTTP) the whole length is announced but only half the body sent before FIN
  close/  (HTTP) no Content-Length: the body ends when the connection closes
  bad/    (HTTP) an answer that is not HTTP at all"""

import os
import socket
import struct
import threading
import time

from harness import ones_sum

ETH_IPV6 = 0x86DD
UDP, TCP, ICMPV6 = 17, 6, 58
ALL_NODES = bytes.fromhex("ff020000000000000000000000000001")
RETRY_S = 0.5  # resend interval for TFTP blocks and TCP segments
MTU = 1500  # the largest IPv6 packet one Ethernet frame carries


def split_variant(path: str) -> tuple[str, str]:
    """("lossy", "d/x") for "/lossy/d/x"; ("", "d/x") for "/d/x"."""
    path = path.lstrip("/")
    head, _, rest = path.partition("/")
    return (head, rest) if head in ("lossy", "cut", "close", "bad") else ("", path)


def checksum(data: bytes) -> int:
    """The Internet checksum: the ones' complement of the ones' complement sum."""
    return ~ones_sum(data) & 0xFFFF


def with_checksum(src: bytes, dst: bytes, proto: int, segment: bytes, at: int) -> bytes:
    """segment with its checksum (over the IPv6 pseudo-header) stored at offset `at`."""
    pseudo = src + dst + struct.pack("!IxxxB", len(segment), proto)
    value = checksum(pseudo + segment[:at] + b"\0\0" + segment[at + 2:])
    return segment[:at] + struct.pack("!H", value) + segment[at + 2:]


class Peer(threading.Thread):
    def __init__(self, files: dict[str, bytes], mac: bytes = bytes.fromhex("52540000 6b01"),
                 prefix: str = "fd00:6b::"):
        super().__init__(daemon=True)
        self.files = files
        self.mac = mac
        self.prefix = socket.inet_pton(socket.AF_INET6, prefix)[:8]
        iid = bytes([mac[0] ^ 2]) + mac[1:3] + b"\xff\xfe" + mac[3:]  # modified EUI-64
        self.link_local = bytes.fromhex("fe800000 00000000") + iid
        self.address = self.prefix + bytes(7) + b"\x01"  # PREFIX::1, the servers' address
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.05)
        self.port = self.sock.getsockname()[1]  # QEMU's remote port
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        probe.bind(("127.0.0.1", 0))
        self.qemu_port = probe.getsockname()[1]  # QEMU's local port (free a moment ago)
        probe.close()
        self.guest_mac: dict[bytes, bytes] = {}  # IPv6 address -> MAC, learned from frames
        self.tftp: dict[tuple, dict] = {}  # (client address, client port) -> transfer
        self.tcp: dict[tuple, dict] = {}   # (client address, client port) -> connection
        self.log: list[tuple] = []  # (kind, details) of what the servers did, for the test
        self.stopping = False
        self.next_port = 40000
        self.advertise_at = 0.0
        self.fragment_id = 0  # the identification of the last fragmented packet

    def netdev(self, name: str) -> str:
        """The -netdev value connecting QEMU to this peer."""
        return ("dgram,id=%s,local.type=inet,local.host=127.0.0.1,local.port=%d,"
                "remote.type=inet,remote.host=127.0.0.1,remote.port=%d" % (name, self.qemu_port, self.port))

    def address_text(self) -> str:
        return socket.inet_ntop(socket.AF_INET6, self.address)

    def stop(self) -> None:
        self.stopping = True
        self.join(2)
        self.sock.close()

    # ---- frames out

    def send_ip(self, src: bytes, dst: bytes, proto: int, payload: bytes, hop: int = 64) -> None:
        if dst[0] == 0xFF:
            dst_mac = b"\x33\x33" + dst[12:]
        else:
            dst_mac = self.guest_mac.get(dst, b"\xff" * 6)
        ethernet = dst_mac + self.mac + struct.pack("!H", ETH_IPV6)
        if 40 + len(payload) <= MTU:
            header = struct.pack("!IHBB", 6 << 28, len(payload), proto, hop) + src + dst
            self.sock.sendto(ethernet + header + payload, ("127.0.0.1", self.qemu_port))
            return
        # Too big for the link: fragments (RFC 8200 section 4.5), each but the last a
        # multiple of 8 bytes, behind a fragment header naming the real next header.
        self.fragment_id += 1
        piece = (MTU - 40 - 8) & ~7
        for at in range(0, len(payload), piece):
            part = payload[at:at + piece]
            more = 1 if at + piece < len(payload) else 0
            fragment = struct.pack("!BBHI", proto, 0, at | more, self.fragment_id)
            header = struct.pack("!IHBB", 6 << 28, 8 + len(part), 44, hop) + src + dst
            self.sock.sendto(ethernet + header + fragment + part, ("127.0.0.1", self.qemu_port))

    def send_icmp(self, src: bytes, dst: bytes, message: bytes, hop: int = 255) -> None:
        self.send_ip(src, dst, ICMPV6, with_checksum(src, dst, ICMPV6, message, 2), hop)

    def send_udp(self, dst: bytes, sport: int, dport: int, data: bytes) -> None:
        segment = struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data
        segment = with_checksum(self.address, dst, UDP, segment, 6)
        if segment[6:8] == b"\0\0":
            segment = segment[:6] + b"\xff\xff" + segment[8:]  # zero means "none" in UDP
        self.send_ip(self.address, dst, UDP, segment)

    def advertise(self) -> None:
        """A router advertisement: hop limit 64, no default router, the source's link-layer
        address and one prefix, on-link and autonomous, valid for an hour."""
        message = struct.pack("!BBHBBHII", 134, 0, 0, 64, 0, 0, 0, 0)
        message += struct.pack("!BB", 1, 1) + self.mac
        message += struct.pack("!BBBBIII", 3, 4, 64, 0xC0, 3600, 3600, 0) + self.prefix + bytes(8)
        self.send_icmp(self.link_local, ALL_NODES, message)

    # ---- frames in

    def run(self) -> None:
        while not self.stopping:
            try:
                frame = self.sock.recv(65536)
            except socket.timeout:
                frame = None
            except OSError:
                return
            now = time.monotonic()
            if frame:
                self.frame(frame)
            if self.advertise_at and now >= self.advertise_at:
                self.advertise()
                self.advertise_at = now + 3
            self.timers(now)

    def frame(self, frame: bytes) -> None:
        if len(frame) < 54 or struct.unpack_from("!H", frame, 12)[0] != ETH_IPV6:
            return
        ip = frame[14:]
        length, proto = struct.unpack_from("!HB", ip, 4)
        src, dst, payload = ip[8:24], ip[24:40], ip[40:40 + length]
        if len(payload) != length:
            return
        if any(src):
            self.guest_mac[src] = frame[6:12]
        if proto == ICMPV6 and len(payload) >= 4:
            self.icmp(src, dst, payload)
        elif dst != self.address:
            return
        elif proto == UDP and len(payload) >= 8:
            sport, dport = struct.unpack_from("!HH", payload)
            self.udp(src, sport, dport, payload[8:])
        elif proto == TCP and len(payload) >= 20:
            self.tcp_segment(src, payload)

    def icmp(self, src: bytes, dst: bytes, message: bytes) -> None:
        kind = message[0]
        if kind == 135 and len(message) >= 24 and message[8:24] in (self.address, self.link_local):
            target = message[8:24]
            # Solicited and override; to all nodes when the asker has no address yet.
            answer = struct.pack("!BBHI", 136, 0, 0, 0x60000000) + target + struct.pack("!BB", 2, 1) + self.mac
            self.send_icmp(target, src if any(src) else ALL_NODES, answer)
        elif kind == 133:
            self.advertise()
            self.advertise_at = time.monotonic() + 3
        elif kind == 128 and dst in (self.address, self.link_local):
            self.send_icmp(dst, src, b"\x81" + message[1:], 64)

    # ---- TFTP

    def udp(self, src: bytes, sport: int, dport: int, data: bytes) -> None:
        if len(data) < 4:
            return
        opcode = struct.unpack_from("!H", data)[0]
        if dport == 69 and opcode == 1:
            self.read_request(src, sport, data[2:])
            return
        t = self.tftp.get((src, sport))
        if not t or t["port"] != dport:
            return
        if opcode == 4:  # ACK: the next block, or nothing for a late duplicate
            block = struct.unpack_from("!H", data, 2)[0]
            if block == t["block"] & 0xFFFF:
                if t["block"] * t["size"] > len(t["data"]):
                    self.log.append(("tftp-done", t["name"], t["size"]))
                    del self.tftp[(src, sport)]
                    return
                t["block"] += 1
                self.tftp_send(src, sport, t)
        elif opcode == 5:  # the client gave up (as it does after learning the size)
            self.log.append(("tftp-error", t["name"], data[4:].split(b"\0")[0]))
            del self.tftp[(src, sport)]

    def read_request(self, src: bytes, sport: int, body: bytes) -> None:
        fields = body.split(b"\0")
        if len(fields) < 3 or fields[-1] != b"":
            return
        name, mode = fields[0].decode(errors="replace"), fields[1].lower()
        options = {fields[i].lower(): fields[i + 1] for i in range(2, len(fields) - 2, 2)}
        port = self.next_port
        self.next_port += 1
        self.log.append(("rrq", name, mode, dict(options)))
        variant, stored = split_variant(name)
        content = self.files.get(stored)
        if content is None or mode != b"octet":
            reply = struct.pack("!HH", 5, 1) + b"File not found\0"
            self.send_udp(src, port, sport, reply)
            return
        t = {"name": name, "data": content, "size": 512, "port": port, "block": 0, "sent": 0.0,
             "drop": 3 if variant == "lossy" else None}
        accepted = b""
        if b"blksize" in options:
            t["size"] = max(8, min(int(options[b"blksize"]), 1468))
            accepted += b"blksize\0%d\0" % t["size"]
        if b"tsize" in options:
            accepted += b"tsize\0%d\0" % len(content)
        t["oack"] = struct.pack("!H", 6) + accepted if accepted else None
        if not accepted:
            t["block"] = 1
        self.tftp[(src, sport)] = t
        self.tftp_send(src, sport, t)

    def tftp_send(self, src: bytes, sport: int, t: dict) -> None:
        if t["block"] == 0:
            packet = t["oack"]
        else:
            start = (t["block"] - 1) * t["size"]
            packet = struct.pack("!HH", 3, t["block"] & 0xFFFF) + t["data"][start:start + t["size"]]
        if t["block"] == t["drop"]:
            t["drop"] = None  # lost on the way; the timer sends it again
            self.log.append(("tftp-drop", t["name"], t["block"]))
        else:
            self.send_udp(src, t["port"], sport, packet)
        t["sent"] = time.monotonic()

    def timers(self, now: float) -> None:
        for key, t in list(self.tftp.items()):
            if now - t["sent"] > RETRY_S:
                self.log.append(("tftp-resend", t["name"], t["block"]))
                self.tftp_send(key[0], key[1], t)
        for key, c in list(self.tcp.items()):
            if c["una"] != c["nxt"] and now - c["sent"] > RETRY_S:
                self.log.append(("tcp-resend", c["una"] - c["iss"]))
                c["sent"] = now
                if c["una"] == c["iss"]:  # the SYN-ACK itself
                    self.tcp_send(key, c, c["iss"], 0x12, options=struct.pack("!BBH", 2, 4, 1440))
                    continue
                c["nxt"] = c["una"]
                self.tcp_output(key, c)

    # ---- TCP and HTTP

    def tcp_send(self, key: tuple, c: dict, seq: int, flags: int, data: bytes = b"",
                 options: bytes = b"") -> None:
        offset = (20 + len(options)) // 4
        segment = struct.pack("!HHIIBBHHH", 80, key[1], seq & 0xFFFFFFFF, c["rcv"] & 0xFFFFFFFF,
                              offset << 4, flags, 65535, 0, 0) + options + data
        self.send_ip(self.address, key[0], TCP, with_checksum(self.address, key[0], TCP, segment, 16))

    def tcp_segment(self, src: bytes, segment: bytes) -> None:
        sport, dport, seq, ack, offset, flags, window = struct.unpack_from("!HHIIBBH", segment)
        if dport != 80:
            return
        key = (src, sport)
        data = segment[(offset >> 4) * 4:]
        c = self.tcp.get(key)
        if flags & 0x04:  # RST
            self.tcp.pop(key, None)
            return
        if flags & 0x02:  # SYN: a new connection, answered with SYN-ACK and our MSS
            mss = 1220  # the IPv6 default when the client names none
            at = 20
            while at < (offset >> 4) * 4:
                kind = segment[at]
                if kind == 0:
                    break
                if kind == 1:
                    at += 1
                    continue
                if kind == 2:
                    mss = struct.unpack_from("!H", segment, at + 2)[0]
                at += max(2, segment[at + 1])
            iss = int.from_bytes(os.urandom(4), "big")
            c = {"iss": iss, "una": iss, "nxt": iss + 1, "rcv": seq + 1, "mss": min(mss, 1440),
                 "window": window, "request": b"", "out": b"", "fin": False, "sent": 0.0,
                 "peer_fin": False, "segments": 0, "drop": None}
            self.tcp[key] = c
            self.tcp_send(key, c, iss, 0x12, options=struct.pack("!BBH", 2, 4, 1440))
            c["sent"] = time.monotonic()
            return
        if not c or not flags & 0x10:
            return
        # The acknowledgement: forget what it covers (sequence numbers here do not wrap
        # in a test's few hundred kilobytes, but compare modulo 2^32 anyway).
        acked = (ack - c["una"]) & 0xFFFFFFFF
        if 0 < acked <= c["nxt"] - c["una"]:
            c["una"] += acked
            c["sent"] = time.monotonic()
        c["window"] = window
        if data or flags & 0x01:
            if seq != c["rcv"] & 0xFFFFFFFF:
                self.tcp_send(key, c, c["nxt"], 0x10)  # out of order: say what we expect
                return
            c["request"] += data
            c["rcv"] += len(data) + (1 if flags & 0x01 else 0)
            c["peer_fin"] = c["peer_fin"] or bool(flags & 0x01)
            self.tcp_send(key, c, c["nxt"], 0x10)
            if b"\r\n\r\n" in c["request"] and not c["out"]:
                self.http_response(c)
        if c["fin"] and c["una"] == c["nxt"] and c["peer_fin"]:
            del self.tcp[key]  # both sides closed and acknowledged
            return
        self.tcp_output(key, c)

    def http_response(self, c: dict) -> None:
        line = c["request"].split(b"\r\n", 1)[0].decode(errors="replace")
        self.log.append(("http", line, c["request"]))
        parts = line.split()
        variant, path = split_variant(parts[1] if len(parts) == 3 else "")
        body = self.files.get(path)
        if parts[:1] != ["GET"] or body is None:
            c["out"] = b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
            return
        length = "" if variant == "close" else "Content-Length: %d\r\n" % len(body)
        header = ("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n%s"
                  "Connection: close\r\n\r\n" % length).encode()
        c["out"] = header + (body[:len(body) // 2] if variant == "cut" else body)
        if variant == "bad":
            c["out"] = b"\x16\x03\x01 this is no HTTP answer\r\n\r\n"
        c["drop"] = 3 if variant == "lossy" else None

    def tcp_output(self, key: tuple, c: dict) -> None:
        """Sends what the window allows from nxt on; FIN once everything has been sent."""
        base = c["iss"] + 1
        end = base + len(c["out"])
        limit = c["una"] + max(c["window"], 1)
        while c["out"] and c["nxt"] < min(end, limit):
            start = c["nxt"] - base
            chunk = c["out"][start:start + min(c["mss"], limit - c["nxt"])]
            c["segments"] += 1
            if c["segments"] == c["drop"]:
                c["drop"] = None  # lost; sent again from here when the timer sees no ACK
                self.log.append(("tcp-drop", start))
            else:
                self.tcp_send(key, c, c["nxt"], 0x18, chunk)
            c["nxt"] += len(chunk)
            c["sent"] = time.monotonic()
        if c["out"] and c["una"] >= end and c["nxt"] == end:
            self.tcp_send(key, c, end, 0x11)  # all of it acknowledged: FIN
            c["fin"] = True
            c["nxt"] = end + 1
            c["sent"] = time.monotonic()
