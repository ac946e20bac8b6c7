"""The IPv6 network commands in OVMF (which carries Ip6Dxe and Mtftp6Dxe) with a virtio
NIC on QEMU's user network in restricted mode, all in one boot: the interface listing,
automatic configuration from QEMU's router advertisement (prefix fec0::/64), ping6 to
the router's link-local and site addresses and to an unused address, ping choosing the
IPv6 path, manual addresses with duplicate address detection, the dad count, and the
messages for bad settings. No traffic leaves QEMU.

QEMU's restricted mode drops every IPv6 UDP datagram and refuses IPv6 TCP connections
(only IPv4 has its built-in TFTP server and guestfwd rules there), so tftp over MTFTP6
and http to a bracketed host are shown to send the right request and to fail cleanly.

QEMU's filter-dump writes a capture of the NIC's traffic, read back here independently of
the shell: the ICMPv6 echo requests (identifier, sequence, checksum over the IPv6
pseudo-header, source address), the duplicate-address probes the dad count asks for, the
MTFTP6 read request with its options, and the TCP connection attempt over IPv6."""

import hashlib
import ipaddress
import os
import re
import struct
import tempfile

from harness import Machine, expect, ones_sum, read_image_file, run_cases, tshark_fields
from ipv6_peer import Peer

PROMPT = "fs0:\\> "
LINK_LOCAL = "fe80::5054:ff:fe12:3456"  # from QEMU's default MAC 52:54:00:12:34:56
SITE = "fec0::5054:ff:fe12:3456"        # the same interface id in QEMU's prefix
UNUSED = "fec0::77"                     # inside the prefix, answered by no one


def command(m: Machine, line: str, timeout: float = 40) -> str:
    return m.prompt_command(line, PROMPT, timeout)


def last_error(m: Machine) -> int:
    return m.last_error(PROMPT)


def record(text: str) -> dict[str, str]:
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def ipv6_packets(path: str):
    """(source, destination, next header, payload) of each IPv6 packet in a pcap file,
    and the count of IPv4 packets with their destinations."""
    blob = open(path, "rb").read()
    endian = "<" if struct.unpack_from("<I", blob, 0)[0] == 0xA1B2C3D4 else ">"
    at, v6, v4 = 24, [], []
    while at + 16 <= len(blob):
        _, _, incl, _ = struct.unpack_from(endian + "IIII", blob, at)
        frame = blob[at + 16:at + 16 + incl]
        at += 16 + incl
        kind = frame[12:14]
        if kind == b"\x08\x00" and len(frame) >= 34:
            v4.append(str(ipaddress.IPv4Address(frame[30:34])))
        if kind != b"\x86\xdd" or len(frame) < 54:
            continue
        ip = frame[14:]
        length = struct.unpack_from("!H", ip, 4)[0]
        v6.append((ipaddress.IPv6Address(ip[8:24]), ipaddress.IPv6Address(ip[24:40]), ip[6],
                   ip[40:40 + length]))
    return v6, v4


def upper_checksum_ok(src, dst, next_header: int, payload: bytes) -> bool:
    pseudo = src.packed + dst.packed + struct.pack("!IxxxB", len(payload), next_header)
    return ones_sum(pseudo + payload) == 0xFFFF


def check_ipv6(efi_dir):
    work = tempfile.mkdtemp(prefix="tarn-net6-")
    capture = os.path.join(work, "net6.pcap")
    tftp_root = os.path.join(work, "tftp")
    os.makedirs(os.path.join(tftp_root, "boot"))
    open(os.path.join(tftp_root, "boot", "image.bin"), "wb").write(os.urandom(5000))
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="net6", timeout=240,
                 network="tftp=" + tftp_root,
                 extra_args=["-object", "filter-dump,id=f0,netdev=n0,file=" + capture]) as m:
        m.wait_for(PROMPT, timeout=90)
        command(m, "set -v pager off")

        # The link-local address appears once its duplicate detection is over.
        for _ in range(10):
            if record(command(m, "ifconfig6 -data"))["ip"]:
                break
            command(m, "sleep 1000")
        listing = command(m, "ifconfig6")
        for line in ("name         : eth0\n", "media state  : present\n", "policy       : manual\n",
                     "dad transmits: 1\n", "mac addr     : 52-54-00-12-34-56\n",
                     "ipv6 address : %s/64  (link-local)\n" % LINK_LOCAL, "route table  :\n"):
            expect(line in listing, "%r not in %r" % (line, listing))

        expect(command(m, "ifconfig6 -s eth0 auto").strip() == "", "auto")
        out = command(m, "ping6 -n 3 fe80::2")
        expect(out.startswith("Ping fe80::2 16 data bytes (from %s).\n" % LINK_LOCAL), out)
        replies = re.findall(r"24 bytes from fe80::2 : icmp_seq=(\d) hop_limit=\d+ time=\d+ms", out)
        expect(replies == ["0", "1", "2"], out)
        expect("3 packets transmitted, 3 received, 0% packet loss" in out, out)
        expect(last_error(m) == 0, "ping6 with replies")

        # The router's advertisement gives the site prefix; ping6 waits for that address.
        out = command(m, "ping6 -n 3 fec0::2")
        expect(out.startswith("Ping fec0::2 16 data bytes (from %s).\n" % SITE), out)
        expect("3 packets transmitted, 3 received, 0% packet loss" in out, out)
        out = command(m, "ping -n 2 fec0::2")
        expect(out.startswith("Ping fec0::2 16 data bytes (from %s).\n" % SITE), out)
        expect(re.search(r"bytes from fec0::2 : icmp_seq=1 hop_limit=", out), out)
        auto = record(command(m, "ifconfig6 -data -l eth0"))
        expect(auto["policy"] == "automatic", auto)
        expect(auto["ip"].split() == ["%s/64" % LINK_LOCAL, "%s/64" % SITE], auto)
        listing = command(m, "ifconfig6")
        expect("               %s/64\n" % SITE in listing, listing)
        expect("  fec0::/64 gateway ::\n" in listing and "  ::/0 gateway fe80::2\n" in listing, listing)

        out = command(m, "ping6 -n 2 -l 0 " + UNUSED)
        expect(out.count("timeout.") == 2, out)
        expect("2 packets transmitted, 0 received, 100% packet loss" in out and "Rtt" not in out, out)
        expect(last_error(m) == 1, "unanswered ping6")

        out = command(m, "tftp -t 1 -c 2 -s 1468 fec0::2 boot/image.bin six.bin", timeout=60)
        expect("Downloading boot/image.bin from fec0::2 ...\n" in out, out)
        expect("download failed: timeout" in out, out)
        expect(last_error(m) == 1, "tftp over IPv6 in restricted mode")
        out = command(m, "http -t 3000 http://[fec0::2]/d/page.bin", timeout=60)
        expect("Downloading http://[fec0::2]/d/page.bin\n" in out and "request failed: " in out, out)
        expect(last_error(m) == 1, "http over IPv6 in restricted mode")

        # Manual settings; with 3 transmits the address waits out duplicate detection.
        expect(command(m, "ifconfig6 -s eth0 dad 3").strip() == "", "dad 3")
        out = command(m, "ifconfig6 -s eth0 man host fec0::99 gw fe80::2 dns fec0::3", timeout=60)
        expect(out.strip() == "", out)
        expect(last_error(m) == 0, "manual settings")
        listing = command(m, "ifconfig6 -l eth0")
        for line in ("policy       : manual\n", "dad transmits: 3\n", "               fec0::99/64\n",
                     "dns server   : fec0::3\n", "gateway      : fe80::2\n"):
            expect(line in listing, "%r not in %r" % (line, listing))
        manual = record(command(m, "ifconfig6 -data"))
        expect(manual["gateway"] == "fe80::2" and manual["dns"] == "fec0::3" and manual["dad"] == "3", manual)
        out = command(m, "ping6 -n 1 -s fec0::99 fec0::2")
        expect(out.startswith("Ping fec0::2 16 data bytes (from fec0::99).\n"), out)
        expect("1 packets transmitted, 1 received" in out, out)

        out = command(m, "ifconfig6 -s eth0 man host fec0::zz")
        expect(last_error(m) == 1, "bad host address")
        expect("fec0::zz: not a valid IPv6 address (ADDR or ADDR/LEN)" in m.output(), out)
        command(m, "ifconfig6 -s eth0 dad 11")
        expect(last_error(m) == 2, "dad out of range")
        expect(command(m, "ifconfig6 -r eth0").strip() == "", "-r")
        expect(record(command(m, "ifconfig6 -data"))["policy"] == "automatic", "policy after -r")
        listing = command(m, "ls")
        expect("six.bin" not in listing and "page.bin" not in listing, listing)

        m.send_line("exit")
        expect(m.exit_status() == 0, "exit status")

    packets, v4 = ipv6_packets(capture)
    allowed = [ipaddress.IPv6Network(n) for n in ("fe80::/10", "fec0::/64", "ff02::/16")]
    expect(all(any(dst in n for n in allowed) for _, dst, _, _ in packets), "IPv6 traffic outside the link")
    expect(all(d.startswith("10.0.2.") or d == "255.255.255.255" for d in v4), "IPv4 traffic outside")
    # The echo requests: our identifier, sequences 0.. per series, the source the shell
    # named, and a checksum over the pseudo-header that only the shell computes (the
    # firmware's IP6 sends the ICMPv6 message as it is given).
    requests = [(src, dst, p) for src, dst, nh, p in packets if nh == 58 and p and p[0] == 128]
    series = {}
    for src, dst, p in requests:
        expect(upper_checksum_ok(src, dst, 58, p), "bad ICMPv6 checksum %s" % p.hex())
        expect(struct.unpack_from("!H", p, 4)[0] == 0x5441, "identifier %s" % p.hex())
        series.setdefault((str(src), str(dst)), []).append(struct.unpack_from("!H", p, 6)[0])
    expect(series.get((LINK_LOCAL, "fe80::2")) == [0, 1, 2], "link-local series %r" % series)
    expect(series.get((SITE, "fec0::2")) == [0, 1, 2, 0, 1], "site series %r" % series)
    expect(series.get(("fec0::99", "fec0::2")) == [0], "manual source %r" % series)
    replies = [p for src, _, nh, p in packets if nh == 58 and p and p[0] == 129 and str(src) == "fec0::2"]
    expect(len(replies) == 6, "replies from fec0::2: %d" % len(replies))
    # Duplicate address detection: neighbour solicitations from :: for the manual address,
    # as many as the dad count.
    probes = [p for src, _, nh, p in packets
              if nh == 58 and p and p[0] == 135 and src == ipaddress.IPv6Address("::")
              and ipaddress.IPv6Address(p[8:24]) == ipaddress.IPv6Address("fec0::99")]
    expect(len(probes) == 3, "DAD probes for fec0::99: %d" % len(probes))
    # MTFTP6: the read request in octet mode with the size query and the block size.
    rrq = [p[8:] for src, dst, nh, p in packets
           if nh == 17 and str(dst) == "fec0::2" and struct.unpack_from("!H", p, 2)[0] == 69]
    expect(rrq and all(r.startswith(b"\x00\x01boot/image.bin\0octet\0") for r in rrq), "RRQ %r" % rrq)
    expect(any(b"tsize\x000\0" in r for r in rrq) and any(b"blksize\x001468\0" in r for r in rrq),
           "TFTP options %r" % rrq)
    expect(all(upper_checksum_ok(src, dst, 17, p) for src, dst, nh, p in packets
               if nh == 17 and str(dst) == "fec0::2"), "UDP checksum")
    # HTTP: a TCP connection attempt from the site address to port 80 of fec0::2.
    syns = [p for src, dst, nh, p in packets
            if nh == 6 and str(src) == SITE and str(dst) == "fec0::2" and struct.unpack_from("!H", p, 2)[0] == 80
            and p[13] & 0x02]
    expect(syns, "no TCP connection attempt over IPv6")

    # The same, decoded by tshark: checksum status 1 is a checksum it found right.
    echoes = tshark_fields(capture, "icmpv6.type == 128",
                           ["ipv6.src", "ipv6.dst", "icmpv6.echo.identifier", "icmpv6.echo.sequence_number",
                            "icmpv6.checksum.status"])
    expect(len(echoes) == len(requests) and all(e[2] == "0x5441" and e[4] == "1" for e in echoes),
           "tshark on the echo requests: %r" % echoes)
    expect([e[3] for e in echoes if e[0] == LINK_LOCAL] == ["0", "1", "2"], "tshark sequences %r" % echoes)
    reads = tshark_fields(capture, "tftp.opcode == 1", ["tftp.source_file", "tftp.type", "tftp.option.name",
                                                        "tftp.option.value", "udp.checksum.status"],
                          ["udp.check_checksum:TRUE"])
    expect(reads and all(r[:2] == ["boot/image.bin", "octet"] and r[4] == "1" for r in reads), "tshark RRQ %r" % reads)
    expect(any(r[2] == "tsize,blksize" and r[3] == "0,1468" for r in reads), "tshark TFTP options %r" % reads)
    probes = tshark_fields(capture, "icmpv6.type == 135 && ipv6.src == ::", ["icmpv6.nd.ns.target_address"])
    expect([p[0] for p in probes].count("fec0::99") == 3, "tshark DAD probes %r" % probes)


def check_ipv6_downloads(efi_dir):
    """A second boot with two NICs: eth0 on the restricted user network and eth1 on a QEMU
    dgram netdev whose far end is ipv6_peer.Peer, a small IPv6 host this test runs on
    127.0.0.1 with a TFTP and an HTTP server. eth1 takes the peer's prefix by automatic
    configuration; tftp and http with -i eth1 download from it, and the saved files are
    compared with the originals by sha256 (read from the disk image with mtools)."""
    work = tempfile.mkdtemp(prefix="tarn-net6-peer-")
    capture = os.path.join(work, "peer.pcap")
    image, page = os.urandom(40000), os.urandom(150000)
    peer = Peer({"boot/image.bin": image, "d/page.bin": page})
    server = peer.address_text()
    station = "fd00:6b::5054:ff:fe12:3457"  # the prefix and the second NIC's MAC
    peer.start()
    try:
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="net6peer", timeout=240, network="",
                     extra_args=["-netdev", peer.netdev("n1"),
                                 "-device", "virtio-net-pci,netdev=n1,mac=52:54:00:12:34:57",
                                 "-object", "filter-dump,id=f1,netdev=n1,file=" + capture]) as m:
            m.wait_for(PROMPT, timeout=90)
            command(m, "set -v pager off")
            listing = command(m, "ifconfig6 -l")
            expect("name         : eth0\n" in listing and "name         : eth1\n" in listing, listing)
            expect("mac addr     : 52-54-00-12-34-57\n" in listing, listing)

            expect(command(m, "ifconfig6 -s eth1 auto").strip() == "", "auto on eth1")
            for _ in range(15):
                if station in record(command(m, "ifconfig6 -data -l eth1")).get("ip", ""):
                    break
                command(m, "sleep 1000")
            out = command(m, "ping6 -n 2 -i eth1 " + server)
            expect(out.startswith("Ping %s 16 data bytes (from %s).\n" % (server, station)), out)
            expect("2 packets transmitted, 2 received, 0% packet loss" in out, out)

            out = command(m, "tftp -i eth1 %s boot/image.bin six.bin" % server, timeout=90)
            expect("Downloading boot/image.bin from %s ...\n" % server in out, out)
            expect("40000 bytes saved to fs0:\\six.bin" in out, out)
            expect(last_error(m) == 0, "tftp over IPv6")
            out = command(m, "tftp -i eth1 -s 1468 %s boot/image.bin big6.bin" % server, timeout=90)
            expect("40000 bytes saved to fs0:\\big6.bin" in out, out)
            out = command(m, "tftp -i eth1 %s boot/absent.bin" % server, timeout=60)
            expect("download failed: TFTP error" in out, out)
            expect(last_error(m) == 1, "tftp of a missing file over IPv6")
            out = command(m, "tftp -i eth1 %s lossy/boot/image.bin lossy.bin" % server, timeout=90)
            expect("40000 bytes saved to fs0:\\lossy.bin" in out, out)
            # Without -i the first interface is used, and eth0 has no address in the prefix.
            out = command(m, "tftp %s boot/image.bin" % server, timeout=60)
            expect("eth0 has no IPv6 address that can reach %s (ifconfig6 -s eth0 auto)" % server in m.output(), out)
            expect(last_error(m) == 1, "tftp on the wrong interface")

            out = command(m, "http -i eth1 http://[%s]/d/page.bin" % server, timeout=90)
            expect("Downloading http://[%s]/d/page.bin\n" % server in out, out)
            expect("150000 / 150000 bytes" in out and "150000 bytes saved to fs0:\\page.bin" in out, out)
            expect(last_error(m) == 0, "http over IPv6")
            out = command(m, "http -i eth1 http://[%s]/cut/d/page.bin cut.bin" % server, timeout=90)
            expect("download incomplete (75000 of 150000 bytes)" in out, out)
            expect(last_error(m) == 1, "incomplete http over IPv6")
            out = command(m, "http -i eth1 http://[%s]/lossy/d/page.bin lossy.htm" % server, timeout=90)
            expect("150000 bytes saved to fs0:\\lossy.htm" in out, out)
            # Without a length OVMF's HTTP driver hands over the first segment's body and
            # then nothing more (the rest stays in its TCP buffer, the close unseen): the
            # download ends in a timeout, reported, and the partial file is removed.
            out = command(m, "http -i eth1 -t 2000 http://[%s]/close/d/page.bin close.bin" % server, timeout=90)
            expect("http: no response: timeout" in m.output(), out)
            expect(last_error(m) == 1, "http without a length")
            # OVMF answers a 404 with its HTTP error status and no status code the shell can
            # read, so only the failure is checked here (the number is shown when it is filled).
            out = command(m, "http -i eth1 http://[%s]/d/absent.bin" % server, timeout=90)
            expect("http: " in out, out)
            expect(last_error(m) == 1, "http 404")
            out = command(m, "http -i eth1 http://[%s]/bad/d/page.bin bad.bin" % server, timeout=90)
            expect("no response: " in m.output(), out)
            expect(last_error(m) == 1, "http answer that is not HTTP")
            listing = command(m, "ls")
            for name in ("cut.bin", "absent.bin", "bad.bin", "image.bin", "close.bin"):
                expect(name not in listing, listing)

            m.send_line("exit")
            expect(m.exit_status() == 0, "exit status")
            saved = {n: read_image_file(m.images[0], "\\" + n)
                     for n in ("six.bin", "big6.bin", "lossy.bin", "page.bin", "lossy.htm")}
    finally:
        peer.stop()
    digest = lambda b: hashlib.sha256(b).hexdigest()
    expect(digest(saved["six.bin"]) == digest(image), "tftp file differs")
    expect(digest(saved["big6.bin"]) == digest(image), "tftp -s 1468 file differs")
    expect(digest(saved["lossy.bin"]) == digest(image), "tftp file with a lost block differs")
    for name in ("page.bin", "lossy.htm"):
        expect(digest(saved[name]) == digest(page), "http file %s differs" % name)

    # What the peer's servers saw: for each download a size query (tsize 0) and then the
    # read, both in octet mode, with the block size for -s; the HTTP requests.
    reads = [(e[2], e[3]) for e in peer.log if e[0] == "rrq" and e[1] == "boot/image.bin"]
    expect(reads == [(b"octet", {b"tsize": b"0"}), (b"octet", {}),
                     (b"octet", {b"tsize": b"0", b"blksize": b"1468"}), (b"octet", {b"blksize": b"1468"})],
           "read requests %r" % reads)
    done = [e[2] for e in peer.log if e[0] == "tftp-done"]
    expect(done == [512, 1468, 512], "completed transfers (block sizes) %r" % done)
    # The dropped block and segment were sent again, and nothing else needed to be.
    again = [e[:2] for e in peer.log if e[0] in ("tftp-drop", "tftp-resend", "tcp-drop", "tcp-resend")]
    expect(("tftp-drop", "lossy/boot/image.bin") in again and ("tftp-resend", "lossy/boot/image.bin") in again
           and ("tcp-drop",) == tuple(e[0] for e in again if e[0] == "tcp-drop") and
           any(e[0] == "tcp-resend" for e in again), "retransmissions %r" % again)
    gets = [e[1] for e in peer.log if e[0] == "http"]
    expect(gets == ["GET /%sd/%s HTTP/1.1" % p for p in (("", "page.bin"), ("cut/", "page.bin"), ("lossy/", "page.bin"),
                                                       ("close/", "page.bin"), ("", "absent.bin"),
                                                       ("bad/", "page.bin"))], "HTTP requests %r" % gets)
    # tshark on the second NIC's capture: the TFTP blocks of 1468 bytes and the TCP
    # segments, all with checksums it found right.
    blocks = tshark_fields(capture, "tftp.opcode == 3", ["udp.length", "udp.checksum.status"],
                           ["udp.check_checksum:TRUE"])
    expect(any(b[0] == str(8 + 4 + 1468) for b in blocks), "no 1468-byte TFTP blocks")
    expect(blocks and all(b[1] == "1" for b in blocks), "UDP checksums %r" % blocks[:3])
    requests = tshark_fields(capture, "http.request.method == \"GET\"", ["ipv6.src", "http.host"])
    expect([r[0] for r in requests] == [station] * 6, "tshark HTTP requests %r" % requests)
    expect(all(r[1] == "[%s]" % server for r in requests), "Host header %r" % requests)


if __name__ == "__main__":
    run_cases([check_ipv6, check_ipv6_downloads])
