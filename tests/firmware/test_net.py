"""The network commands in OVMF with a virtio NIC on QEMU's user network in restricted
mode (no traffic leaves QEMU; servers the test starts listen on 127.0.0.1 only), all in
one boot: ifconfig -s eth0 dhcp, the static and DNS settings, ping to QEMU's gateway and
to an unused address, tftp from QEMU's TFTP server with and without a block size, http
through guestfwd to a server started here and to one that closes early. QEMU's
filter-dump writes a capture of the NIC's traffic; the DHCP answer, the ICMP echo
messages (identifier, sequence, checksum), the TFTP options and the HTTP request headers
are read back from it here, independently of the shell; the saved files are read from the
disk image with mtools and compared by sha256; tshark decodes the capture once more."""

import functools
import hashlib
import http.server
import os
import re
import socket
import struct
import tempfile
import threading

from harness import Machine, expect, ones_sum, read_image_file, records, run_cases, tshark_fields

PROMPT = "fs0:\\> "
UNUSED = "10.0.2.77"  # inside the emulated 10.0.2.0/24, answered by no one


def command(m: Machine, line: str, timeout: float = 30) -> str:
    return m.prompt_command(line, PROMPT, timeout)


def last_error(m: Machine) -> int:
    return m.last_error(PROMPT)


def ipv4_packets(path: str):
    """(source, destination, protocol, payload) of each IPv4 packet in a pcap file."""
    blob = open(path, "rb").read()
    magic = struct.unpack_from("<I", blob, 0)[0]
    endian = "<" if magic == 0xA1B2C3D4 else ">"
    at = 24
    while at + 16 <= len(blob):
        _, _, incl, _ = struct.unpack_from(endian + "IIII", blob, at)
        frame = blob[at + 16:at + 16 + incl]
        at += 16 + incl
        if len(frame) < 34 or frame[12:14] != b"\x08\x00":
            continue
        ip = frame[14:]
        header = (ip[0] & 15) * 4
        total = struct.unpack_from("!H", ip, 2)[0]
        yield (socket.inet_ntoa(ip[12:16]), socket.inet_ntoa(ip[16:20]), ip[9], ip[header:total])


def dhcp_options(payload: bytes) -> dict[int, bytes]:
    """The options of a BOOTP message in a UDP payload (after the 8-byte UDP header)."""
    bootp = payload[8:]
    options, at = {}, 240
    while at < len(bootp) and bootp[at] != 255:
        if bootp[at] == 0:
            at += 1
            continue
        code, size = bootp[at], bootp[at + 1]
        options[code] = bootp[at + 2:at + 2 + size]
        at += 2 + size
    return options


def start_servers(root: str) -> tuple[int, int, list]:
    """A file server for root and one that announces 100000 bytes, sends 5000 and closes;
    both on 127.0.0.1 only. Their ports, and what is to be shut down."""
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=root)
    full = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=full.serve_forever, daemon=True).start()
    short = socket.socket()
    short.bind(("127.0.0.1", 0))
    short.listen(4)

    def serve_short():
        while True:
            try:
                conn, _ = short.accept()
            except OSError:
                return
            conn.recv(4096)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"x" * 5000)
            conn.close()
    threading.Thread(target=serve_short, daemon=True).start()
    return full.server_address[1], short.getsockname()[1], [full, short]


def tcp_payloads(packets, destination: str, port: int) -> bytes:
    data = b""
    for _, dst, proto, p in packets:
        if proto == 6 and dst == destination and struct.unpack_from("!H", p, 2)[0] == port:
            data += p[(p[12] >> 4) * 4:]
    return data


def check_network(efi_dir):
    work = tempfile.mkdtemp(prefix="tarn-net-")
    capture = os.path.join(work, "net.pcap")
    tftp_root = os.path.join(work, "tftp")
    www = os.path.join(work, "www")
    os.makedirs(os.path.join(tftp_root, "boot"))
    os.makedirs(os.path.join(www, "d"))
    image = os.urandom(300000)
    page = os.urandom(200000)
    open(os.path.join(tftp_root, "boot", "image.bin"), "wb").write(image)
    open(os.path.join(www, "d", "page.bin"), "wb").write(page)
    full_port, short_port, servers = start_servers(www)
    # One guestfwd rule per server (QEMU connects each rule to its server once).
    network = ("tftp=%s,guestfwd=tcp:10.0.2.100:80-tcp:127.0.0.1:%d,"
               "guestfwd=tcp:10.0.2.100:81-tcp:127.0.0.1:%d" % (tftp_root, full_port, short_port))
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="net", timeout=240,
                 network=network,
                 extra_args=["-object", "filter-dump,id=f0,netdev=n0,file=" + capture]) as m:
        m.wait_for(PROMPT, timeout=90)
        command(m, "set -v pager off")

        listing = command(m, "ifconfig")
        expect("name         : eth0\n" in listing, listing)
        expect("media state  : present\n" in listing, listing)
        expect("mac addr     : 52-54-00-12-34-56\n" in listing, listing)

        out = command(m, "ifconfig -s eth0 dhcp", timeout=40)
        expect("eth0: waiting for DHCP... done" in out, out)
        dhcp = records(command(m, "ifconfig -data -l eth0"))[0]
        expect(dhcp["ip"] == "10.0.2.15" and dhcp["mask"] == "255.255.255.0", dhcp)
        expect(dhcp["policy"] == "dhcp", dhcp)

        out = command(m, "ping -n 3 10.0.2.2", timeout=30)
        replies = re.findall(r"(\d+) bytes from 10\.0\.2\.2 : icmp_seq=(\d) ttl=\d+ time=\d+ms", out)
        expect([r[1] for r in replies] == ["0", "1", "2"], out)
        expect(all(r[0] == "24" for r in replies), out)
        expect("3 packets transmitted, 3 received, 0% packet loss" in out, out)
        expect("Rtt(round trip time) min=" in out, out)
        expect(last_error(m) == 0, "ping with replies")

        out = command(m, "ping -n 3 -l 0 " + UNUSED, timeout=30)
        expect(out.count("timeout.") == 3, out)
        expect("3 packets transmitted, 0 received, 100% packet loss" in out, out)
        expect("Rtt" not in out, out)
        expect(last_error(m) == 1, "unanswered ping")

        out = command(m, "ifconfig -s eth0 static 10.0.2.15 255.255.255.0 10.0.2.2", timeout=30)
        expect(out.strip() == "", out)
        out = command(m, "ifconfig -s eth0 dns 10.0.2.3 10.0.2.4")
        expect(out.strip() == "", out)
        fixed = records(command(m, "ifconfig -data -l eth0"))[0]
        expect(fixed["policy"] == "static" and fixed["ip"] == "10.0.2.15", fixed)
        expect(fixed["gateway"] == "10.0.2.2" and fixed["dns"] == "10.0.2.3 10.0.2.4", fixed)
        listing = command(m, "ifconfig")
        expect("  subnet 0.0.0.0 netmask 0.0.0.0 gateway 10.0.2.2\n" in listing, listing)
        out = command(m, "ping -n 1 10.0.2.2")
        expect("1 packets transmitted, 1 received" in out, out)

        out = command(m, "tftp 10.0.2.2 boot/image.bin", timeout=60)
        expect("300000 bytes saved to fs0:\\image.bin" in out, out)
        out = command(m, "tftp -s 1468 10.0.2.2 boot/image.bin big.bin", timeout=60)
        expect("300000 bytes saved to fs0:\\big.bin" in out, out)
        out = command(m, "tftp 10.0.2.2 boot/absent.bin", timeout=60)
        expect("download failed: TFTP error" in out, out)
        expect(last_error(m) == 1, "tftp of a missing file")

        out = command(m, "http http://10.0.2.100/d/page.bin", timeout=60)
        expect("200000 / 200000 bytes" in out and "200000 bytes saved to fs0:\\page.bin" in out, out)
        expect(last_error(m) == 0, "http")
        out = command(m, "http http://10.0.2.100:81/cut.bin", timeout=60)
        expect("download incomplete (5000 of 100000 bytes)" in out, out)
        expect(last_error(m) == 1, "incomplete http")
        listing = command(m, "ls")
        expect("cut.bin" not in listing, listing)

        m.send_line("exit")
        expect(m.exit_status() == 0, "exit status")
        saved = {name: read_image_file(m.images[0], "\\" + name) for name in ("image.bin", "big.bin", "page.bin")}
    full, short = servers
    full.shutdown()
    short.close()
    digest = lambda b: hashlib.sha256(b).hexdigest()
    expect(digest(saved["image.bin"]) == digest(image), "tftp file differs")
    expect(digest(saved["big.bin"]) == digest(image), "tftp -s 1468 file differs")
    expect(digest(saved["page.bin"]) == digest(page), "http file differs")

    packets = list(ipv4_packets(capture))
    expect(all(dst.startswith("10.0.2.") or dst == "255.255.255.255" for _, dst, _, _ in packets),
           "traffic outside the emulated network")
    # The DHCP answer: what the shell showed after -s eth0 dhcp is what the server offered.
    acks = [dhcp_options(p) for src, _, proto, p in packets
            if proto == 17 and src == "10.0.2.2" and p[:4] == b"\x00\x43\x00\x44"]
    expect(acks, "no DHCP answer in the capture")
    router = socket.inet_ntoa(acks[-1][3][:4]) if 3 in acks[-1] else "0.0.0.0"
    expect(dhcp["gateway"] == router, "gateway %s, DHCP router %s" % (dhcp["gateway"], router))
    servers = acks[-1].get(6, b"")
    dns = " ".join(socket.inet_ntoa(servers[i:i + 4]) for i in range(0, len(servers), 4))
    expect(dhcp["dns"] == dns, "dns %r, DHCP servers %r" % (dhcp["dns"], dns))
    print("DHCP answer: router %s, DNS servers %r" % (router, dns))
    # The echo requests: type 8, our identifier, sequences 0.. per series, valid checksums.
    requests = [(dst, p) for _, dst, proto, p in packets if proto == 1 and p[0] == 8]
    to_gateway = [p for dst, p in requests if dst == "10.0.2.2"]
    to_unused = [p for dst, p in requests if dst == UNUSED]
    expect(len(to_gateway) == 4, "requests to 10.0.2.2: %d" % len(to_gateway))
    for p in to_gateway + to_unused:
        expect(ones_sum(p) == 0xFFFF, "bad ICMP checksum %s" % p.hex())
        expect(struct.unpack_from("!H", p, 4)[0] == 0x5441, "identifier %s" % p.hex())
    expect([struct.unpack_from("!H", p, 6)[0] for p in to_gateway] == [0, 1, 2, 0], "sequences")
    expect(all(len(p) == 24 for p in to_gateway), "sizes")
    replies = [p for src, _, proto, p in packets if proto == 1 and p[0] == 0 and src == "10.0.2.2"]
    expect(len(replies) == 4, "replies in the capture: %d" % len(replies))
    # The unused address: its neighbour never answers ARP, so at most the requests the
    # driver could send went out, all of them without data.
    expect(all(len(p) == 8 for p in to_unused), "sizes to the unused address")
    # TFTP: read requests in octet mode, the size query and the block size option.
    requests = [p[8:] for _, dst, proto, p in packets
                if proto == 17 and dst == "10.0.2.2" and struct.unpack_from("!H", p, 2)[0] == 69]
    expect(any(b"boot/image.bin\0octet\0" in r and b"blksize\x001468\0" in r for r in requests),
           "no read request with blksize 1468: %r" % requests)
    expect(any(b"tsize\x000\0" in r for r in requests), "no size query")
    # HTTP: the request line and the headers.
    sent = tcp_payloads(packets, "10.0.2.100", 80).decode("latin-1")
    for line in ("GET /d/page.bin HTTP/1.1\r\n", "Host: 10.0.2.100\r\n", "Accept: */*\r\n",
                 "User-Agent: TARN/0.2.1\r\n"):
        expect(line in sent, "%r not in the request %r" % (line, sent[:300]))
    # The same, decoded by tshark: checksum status 1 is a checksum it found right.
    echoes = tshark_fields(capture, "icmp.type == 8", ["ip.dst", "icmp.ident", "icmp.seq", "icmp.checksum.status"])
    expect(all(e[1] == "21569" and e[3] == "1" for e in echoes), "tshark on the echo requests: %r" % echoes)
    expect([e[2] for e in echoes if e[0] == "10.0.2.2"] == ["0", "1", "2", "0"], "tshark sequences %r" % echoes)
    reads = tshark_fields(capture, "tftp.opcode == 1", ["tftp.source_file", "tftp.type", "tftp.option.name",
                                                        "tftp.option.value"])
    expect(any(r[:2] == ["boot/image.bin", "octet"] and "blksize" in r[2].split(",") and "1468" in r[3].split(",")
               for r in reads), "tshark TFTP options %r" % reads)
    gets = tshark_fields(capture, "http.request.method == \"GET\" && tcp.dstport == 80",
                         ["http.request.uri", "http.host", "http.accept", "http.user_agent"])
    expect(["/d/page.bin", "10.0.2.100", "*/*", "TARN/0.2.1"] in gets, "tshark HTTP request %r" % gets)


if __name__ == "__main__":
    run_cases([check_network])
