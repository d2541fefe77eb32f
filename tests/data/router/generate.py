#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the golden frames of the router-mode forwarding tests (run once; the .hex files are
# kept). Every frame is built from scratch here, checksums included, so the expected
# translations do not come from the code under test.
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

def ip(text):
    return bytes(int(x) for x in text.split('.'))

def mac(text):
    return bytes(int(x, 16) for x in text.split(':'))

CLIENT = ip('192.168.51.10');   CLIENT_MAC = mac('02:00:00:00:00:0a')
OUTSIDER = ip('10.9.9.9');      OUTSIDER_MAC = mac('02:00:00:00:00:0b')
GATEWAY = ip('192.168.51.1');   PRIVATE_MAC = mac('02:00:00:00:01:01')
PUBLIC = ip('198.51.100.2');    PUBLIC_MAC = mac('02:00:00:00:02:02')
UPSTREAM_MAC = mac('02:00:00:00:02:fe')
SERVER = ip('203.0.113.10');    SERVER_MAC = UPSTREAM_MAC
DNS = ip('203.0.113.53')
HOSTED = ip('192.168.137.1')
BROADCAST_MAC = mac('ff:ff:ff:ff:ff:ff')

def checksum(data):
    """RFC 1071, word by word."""
    if len(data) % 2:
        data += b'\0'
    total = 0
    for i in range(0, len(data), 2):
        total += (data[i] << 8) | data[i + 1]
        total = (total & 0xFFFF) + (total >> 16)
    return (~total) & 0xFFFF

def eth(dst, src, payload, ethertype=0x0800):
    return dst + src + struct.pack('!H', ethertype) + payload

def ipv4(src, dst, proto, payload, ttl=64, ident=0x1000, flags=0x4000, tos=0, total=None):
    length = 20 + len(payload) if total is None else total
    header = struct.pack('!BBHHHBBH4s4s', 0x45, tos, length, ident, flags, ttl, proto, 0, src, dst)
    header = header[:10] + struct.pack('!H', checksum(header)) + header[12:]
    return header + payload

def pseudo(src, dst, proto, length):
    return src + dst + struct.pack('!BBH', 0, proto, length)

def tcp(src, dst, sport, dport, flags, seq=1000, ack=0, payload=b''):
    header = struct.pack('!HHIIBBHHH', sport, dport, seq, ack, 5 << 4, flags, 64240, 0, 0)
    segment = header + payload
    total = checksum(pseudo(src, dst, 6, len(segment)) + segment)
    return segment[:16] + struct.pack('!H', total) + segment[18:]

def udp(src, dst, sport, dport, payload, with_checksum=True):
    length = 8 + len(payload)
    datagram = struct.pack('!HHHH', sport, dport, length, 0) + payload
    if not with_checksum:
        return datagram
    total = checksum(pseudo(src, dst, 17, length) + datagram) or 0xFFFF
    return datagram[:6] + struct.pack('!H', total) + datagram[8:]

def icmp(kind, code, rest, payload=b''):
    message = struct.pack('!BBH', kind, code, 0) + rest + payload
    return message[:2] + struct.pack('!H', checksum(message)) + message[4:]

def echo(kind, ident, seq, payload=b'abcdefghijklmnopqrstuvwabcdefghi'):
    return icmp(kind, 0, struct.pack('!HH', ident, seq), payload)

def quote(packet, payload_bytes=8):
    header_length = (packet[0] & 0x0F) * 4
    return packet[:header_length + payload_bytes]

def corrupt(frame, offset):
    return frame[:offset] + bytes([frame[offset] ^ 0xFF]) + frame[offset + 1:]

def fragments(packet, mtu):
    """RFC 791 fragmentation as the engine does it: DF cleared, same identification."""
    header, payload = packet[:20], packet[20:]
    size = ((mtu - 20) // 8) * 8
    pieces = []
    for start in range(0, len(payload), size):
        part = payload[start:start + size]
        more = 0x2000 if start + size < len(payload) else 0
        h = bytearray(header)
        struct.pack_into('!H', h, 2, 20 + len(part))
        struct.pack_into('!H', h, 6, more | (start // 8))
        struct.pack_into('!H', h, 10, 0)
        struct.pack_into('!H', h, 10, checksum(bytes(h)))
        pieces.append(bytes(h) + part)
    return pieces

FRAMES = {}

def add(name, frame, note):
    FRAMES[name] = (frame, note)

def out(packet):
    return eth(UPSTREAM_MAC, PUBLIC_MAC, packet)

def to_client(packet):
    return eth(CLIENT_MAC, PRIVATE_MAC, packet)

def from_client(packet, source_mac=CLIENT_MAC):
    return eth(PRIVATE_MAC, source_mac, packet)

def from_internet(packet):
    return eth(PUBLIC_MAC, UPSTREAM_MAC, packet)

# --- TCP: client 192.168.51.10:5000 to 203.0.113.10:80, external port 10000 ---------------
syn = ipv4(CLIENT, SERVER, 6, tcp(CLIENT, SERVER, 5000, 80, 0x02), ttl=64, ident=0x0101)
add('tcp-syn-client', from_client(syn), 'client SYN 192.168.51.10:5000 -> 203.0.113.10:80, TTL 64')
add('tcp-syn-public', out(ipv4(PUBLIC, SERVER, 6, tcp(PUBLIC, SERVER, 10000, 80, 0x02), ttl=63, ident=0x0101)),
    'the SYN translated: 198.51.100.2:10000 -> 203.0.113.10:80, TTL 63, to the upstream gateway')
synack = ipv4(SERVER, PUBLIC, 6, tcp(SERVER, PUBLIC, 80, 10000, 0x12, seq=7000, ack=1001), ttl=50, ident=0x0202)
add('tcp-synack-internet', from_internet(synack), 'SYN-ACK 203.0.113.10:80 -> 198.51.100.2:10000')
add('tcp-synack-client', to_client(ipv4(SERVER, CLIENT, 6, tcp(SERVER, CLIENT, 80, 5000, 0x12, seq=7000, ack=1001), ttl=50, ident=0x0202)),
    'the SYN-ACK translated back to 192.168.51.10:5000')
bad_tcp = corrupt(from_client(syn), 14 + 20 + 16)
add('tcp-syn-bad-checksum', bad_tcp, 'client SYN with a wrong TCP checksum')
add('tcp-syn-bad-ip-checksum', corrupt(from_client(syn), 14 + 10), 'client SYN with a wrong IPv4 header checksum')
ack = ipv4(CLIENT, SERVER, 6, tcp(CLIENT, SERVER, 5001, 80, 0x10, seq=5, ack=9), ttl=64, ident=0x0103)
add('tcp-ack-client', from_client(ack), 'client ACK without a mapping, TTL 64')
add('tcp-ack-client-hop', from_client(ipv4(CLIENT, SERVER, 6, tcp(CLIENT, SERVER, 5001, 80, 0x10, seq=5, ack=9), ttl=63, ident=0x0103)),
    'the same ACK passed on with TTL 63')
stray = ipv4(SERVER, PUBLIC, 6, tcp(SERVER, PUBLIC, 443, 22, 0x02), ttl=50, ident=0x0303)
add('tcp-stray-internet', from_internet(stray), 'SYN from the Internet to 198.51.100.2:22, no mapping')
short_tcp = ipv4(CLIENT, SERVER, 6, tcp(CLIENT, SERVER, 5000, 80, 0x02))
short_tcp = short_tcp[:20 + 12] + bytes([0xF0]) + short_tcp[20 + 13:]
add('tcp-header-beyond-segment', from_client(short_tcp), 'TCP data offset 15 (60 bytes) in a 20-byte segment')

outsider_syn = ipv4(OUTSIDER, SERVER, 6, tcp(OUTSIDER, SERVER, 5000, 80, 0x02), ttl=64, ident=0x0404)
add('tcp-syn-outsider', from_client(outsider_syn, OUTSIDER_MAC), 'SYN from 10.9.9.9, outside the private subnet')
add('tcp-syn-outsider-public', out(ipv4(PUBLIC, SERVER, 6, tcp(PUBLIC, SERVER, 10000, 80, 0x02), ttl=63, ident=0x0404)),
    'the outsider SYN translated')
add('tcp-synack-outsider-internet', from_internet(ipv4(SERVER, PUBLIC, 6, tcp(SERVER, PUBLIC, 80, 10000, 0x12, seq=1, ack=1001), ttl=50, ident=0x0405)),
    'SYN-ACK for the outsider mapping')

# --- UDP and DNS ---------------------------------------------------------------------------
query = b'\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x07example\x03com\x00\x00\x01\x00\x01'
answer = b'\x12\x34\x81\x80\x00\x01\x00\x01\x00\x00\x00\x00\x07example\x03com\x00\x00\x01\x00\x01' \
         b'\xc0\x0c\x00\x01\x00\x01\x00\x00\x0e\x10\x00\x04\x5d\xb8\xd8\x22'
add('dns-query-gateway', from_client(ipv4(CLIENT, GATEWAY, 17, udp(CLIENT, GATEWAY, 5353, 53, query), ident=0x0505)),
    'DNS query 192.168.51.10:5353 -> 192.168.51.1:53')
add('dns-query-public', out(ipv4(PUBLIC, DNS, 17, udp(PUBLIC, DNS, 10000, 53, query), ident=0x0505)),
    'redirected to the DNS server 203.0.113.53 from 198.51.100.2:10000 (TTL kept: it was for the gateway)')
add('dns-answer-internet', from_internet(ipv4(DNS, PUBLIC, 17, udp(DNS, PUBLIC, 53, 10000, answer), ttl=55, ident=0x0606)),
    'DNS answer 203.0.113.53:53 -> 198.51.100.2:10000')
add('dns-answer-client', to_client(ipv4(GATEWAY, CLIENT, 17, udp(GATEWAY, CLIENT, 53, 5353, answer), ttl=55, ident=0x0606)),
    'the answer to the client from 192.168.51.1:53')
add('dns-query-direct', from_client(ipv4(CLIENT, DNS, 17, udp(CLIENT, DNS, 6000, 53, query), ident=0x0707)),
    'DNS query straight to the server 203.0.113.53')
add('dns-query-direct-public', out(ipv4(PUBLIC, DNS, 17, udp(PUBLIC, DNS, 10000, 53, query), ttl=63, ident=0x0707)),
    'the direct query translated')
add('dns-answer-direct-client', to_client(ipv4(DNS, CLIENT, 17, udp(DNS, CLIENT, 53, 6000, answer), ttl=55, ident=0x0606)),
    'the answer through the ordinary mapping, source still the server')

# On the wire a redirected query and a direct one to the same server look alike, so they
# must not share an external port: with the redirect holding 10000, the direct one gets 10001.
add('dns-query-direct-public-next', out(ipv4(PUBLIC, DNS, 17, udp(PUBLIC, DNS, 10001, 53, query), ttl=63, ident=0x0707)),
    'the direct query translated while 10000 serves a redirected query')
add('dns-query-public-next', out(ipv4(PUBLIC, DNS, 17, udp(PUBLIC, DNS, 10001, 53, query), ident=0x0505)),
    'the redirected query translated while 10000 serves a direct query')
add('dns-answer-internet-next', from_internet(ipv4(DNS, PUBLIC, 17, udp(DNS, PUBLIC, 53, 10001, answer), ttl=55, ident=0x0606)),
    'DNS answer 203.0.113.53:53 -> 198.51.100.2:10001')

payload = bytes(range(40))
add('udp-nosum-client', from_client(ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7000, 9999, payload, False), ident=0x0808)),
    'UDP 192.168.51.10:7000 -> 203.0.113.10:9999 without checksum')
add('udp-nosum-public', out(ipv4(PUBLIC, SERVER, 17, udp(PUBLIC, SERVER, 10000, 9999, payload, False), ttl=63, ident=0x0808)),
    'translated, checksum still 0')
udp_out = ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7000, 9999, payload), ident=0x0809)
add('udp-client', from_client(udp_out), 'UDP 192.168.51.10:7000 -> 203.0.113.10:9999')
udp_public = ipv4(PUBLIC, SERVER, 17, udp(PUBLIC, SERVER, 10000, 9999, payload), ttl=63, ident=0x0809)
add('udp-public', out(udp_public), 'translated to 198.51.100.2:10000')
add('udp-bad-checksum', corrupt(from_client(udp_out), 14 + 20 + 6), 'UDP with a wrong checksum')
add('udp-short', from_client(ipv4(CLIENT, SERVER, 17, b'\x1b\x58\x27\x0f')), 'UDP datagram of 4 bytes')
reply_payload = b'pong' * 5
udp_in = ipv4(SERVER, PUBLIC, 17, udp(SERVER, PUBLIC, 9999, 10000, reply_payload), ttl=50, ident=0x0a0a)
add('udp-reply-internet', from_internet(udp_in), 'UDP reply 203.0.113.10:9999 -> 198.51.100.2:10000')
udp_in_client = ipv4(SERVER, CLIENT, 17, udp(SERVER, CLIENT, 9999, 7000, reply_payload), ttl=50, ident=0x0a0a)
add('udp-reply-client', to_client(udp_in_client), 'the reply translated to 192.168.51.10:7000')

# An ICMP port unreachable from the Internet about the translated datagram.
def unreachable_quote(packet):
    return icmp(3, 3, b'\0\0\0\0', quote(packet))
add('udp-unreachable-internet', from_internet(ipv4(SERVER, PUBLIC, 1, unreachable_quote(udp_public), ttl=50, ident=0x0b0b, flags=0)),
    'port unreachable from 203.0.113.10 quoting 198.51.100.2:10000 -> 203.0.113.10:9999')
q = bytearray(quote(udp_public))
q[12:16] = CLIENT; q[20:22] = struct.pack('!H', 7000); q[26:28] = b'\0\0'
q[10:12] = b'\0\0'; q[10:12] = struct.pack('!H', checksum(bytes(q[:20])))
add('udp-unreachable-client', to_client(ipv4(SERVER, CLIENT, 1, icmp(3, 3, b'\0\0\0\0', bytes(q)), ttl=50, ident=0x0b0b, flags=0)),
    'translated back: the quote names 192.168.51.10:7000, its UDP checksum 0')
# The client refuses the reply that reached it.
add('udp-unreachable-from-client', from_client(ipv4(CLIENT, SERVER, 1, unreachable_quote(udp_in_client), ttl=64, ident=0x0c0c, flags=0)),
    'port unreachable from the client quoting 203.0.113.10:9999 -> 192.168.51.10:7000')
q = bytearray(quote(udp_in_client))
q[16:20] = PUBLIC; q[22:24] = struct.pack('!H', 10000); q[26:28] = b'\0\0'
q[10:12] = b'\0\0'; q[10:12] = struct.pack('!H', checksum(bytes(q[:20])))
add('udp-unreachable-from-client-public', out(ipv4(PUBLIC, SERVER, 1, icmp(3, 3, b'\0\0\0\0', bytes(q)), ttl=63, ident=0x0c0c, flags=0)),
    'translated out: the quote names 198.51.100.2:10000')
broken = unreachable_quote(udp_public)[:8 + 20 + 4]
broken = broken[:2] + b'\0\0' + broken[4:]
broken = broken[:2] + struct.pack('!H', checksum(broken)) + broken[4:]
add('icmp-quote-truncated', from_internet(ipv4(SERVER, PUBLIC, 1, broken, ttl=50, flags=0)),
    'port unreachable whose quote stops 4 bytes into the UDP header')
bad_quote = bytearray(unreachable_quote(udp_public))
bad_quote[8 + 10] ^= 0xFF
bad_quote[2:4] = b'\0\0'; bad_quote[2:4] = struct.pack('!H', checksum(bytes(bad_quote)))
add('icmp-quote-bad-checksum', from_internet(ipv4(SERVER, PUBLIC, 1, bytes(bad_quote), ttl=50, flags=0)),
    'port unreachable whose quoted header checksum is wrong')

# --- ICMP echo -----------------------------------------------------------------------------
ping = ipv4(CLIENT, SERVER, 1, echo(8, 0x1234, 1), ident=0x0d0d)
add('ping-client', from_client(ping), 'echo request 192.168.51.10 -> 203.0.113.10, identifier 0x1234')
ping_public = ipv4(PUBLIC, SERVER, 1, echo(8, 0x1234, 1), ttl=63, ident=0x0d0d)
add('ping-public', out(ping_public), 'translated from 198.51.100.2')
add('pong-internet', from_internet(ipv4(SERVER, PUBLIC, 1, echo(0, 0x1234, 1), ttl=50, ident=0x0e0e)),
    'echo reply 203.0.113.10 -> 198.51.100.2')
add('pong-client', to_client(ipv4(SERVER, CLIENT, 1, echo(0, 0x1234, 1), ttl=50, ident=0x0e0e)), 'to the client')
add('ping-bad-checksum', corrupt(from_client(ping), 14 + 20 + 9), 'echo request with a wrong ICMP checksum')
add('icmp-short', from_client(ipv4(CLIENT, SERVER, 1, b'\x08\x00\xf7\xff')), 'ICMP message of 4 bytes')
ping2 = ipv4(ip('192.168.51.11'), SERVER, 1, echo(8, 0x1234, 7), ident=0x0d0e)
add('ping-second-client', from_client(ping2, mac('02:00:00:00:00:0c')), 'a second client pings with identifier 0x1234 too')
add('ping-second-public', out(ipv4(PUBLIC, SERVER, 1, echo(8, 0x1235, 7), ttl=63, ident=0x0d0e)), 'it leaves with 0x1235')
# A router on the way reports that the second client's echo request ran out of TTL.
ping_as_seen = ipv4(PUBLIC, SERVER, 1, echo(8, 0x1235, 7), ttl=1, ident=0x0d0e)
add('ping-exceeded-internet', from_internet(ipv4(ip('203.0.113.1'), PUBLIC, 1, icmp(11, 0, b'\0\0\0\0', quote(ping_as_seen)), ttl=60, ident=0x0f0f, flags=0)),
    'time exceeded from 203.0.113.1 quoting the translated echo request of the second client')
q = bytearray(quote(ping_as_seen))
q[12:16] = ip('192.168.51.11'); q[22:24] = b'\0\0'; q[24:26] = struct.pack('!H', 0x1234)
q[10:12] = b'\0\0'; q[10:12] = struct.pack('!H', checksum(bytes(q[:20])))
add('ping-exceeded-client', eth(mac('02:00:00:00:00:0c'), PRIVATE_MAC, ipv4(ip('203.0.113.1'), ip('192.168.51.11'), 1, icmp(11, 0, b'\0\0\0\0', bytes(q)), ttl=60, ident=0x0f0f, flags=0)),
    'translated back: quote from 192.168.51.11 with identifier 0x1234, quoted ICMP checksum 0')

# --- TTL -----------------------------------------------------------------------------------
dying = ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7300, 33434, bytes(range(100))), ttl=1, ident=0x1111)
add('ttl1-client', from_client(dying), 'UDP with TTL 1 for 203.0.113.10, 100 payload bytes')
exceeded = ipv4(GATEWAY, CLIENT, 1, icmp(11, 0, b'\0\0\0\0', dying[:20 + 64]), ttl=64, ident=0, flags=0)
add('ttl1-exceeded', eth(CLIENT_MAC, PRIVATE_MAC, exceeded),
    'time exceeded from 192.168.51.1, TTL 64, quoting the header and 64 payload bytes')
tiny = ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7301, 33435, b'xy'), ttl=0, ident=0x1112)
add('ttl0-short-client', from_client(tiny), 'UDP with TTL 0 and 10 payload bytes')
add('ttl0-short-exceeded', eth(CLIENT_MAC, PRIVATE_MAC, ipv4(GATEWAY, CLIENT, 1, icmp(11, 0, b'\0\0\0\0', tiny), ttl=64, ident=0, flags=0)),
    'time exceeded quoting all of the short packet')
# RFC 1122 section 3.2.2: no ICMP error about an ICMP error. Echo requests still get one.
add('ttl1-unreachable-client', from_client(ipv4(CLIENT, SERVER, 1, unreachable_quote(udp_in_client), ttl=1, ident=0x1114, flags=0)),
    'port unreachable from the client with TTL 1')
add('ttl1-exceeded-from-client', from_client(ipv4(CLIENT, SERVER, 1, icmp(11, 0, b'\0\0\0\0', quote(udp_in_client)), ttl=1, ident=0x1115, flags=0)),
    'time exceeded from the client with TTL 1')
add('ttl1-redirect-client', from_client(ipv4(CLIENT, SERVER, 1, icmp(5, 1, GATEWAY, quote(udp_in_client)), ttl=1, ident=0x1116, flags=0)),
    'redirect from the client with TTL 1')
add('ttl1-problem-client', from_client(ipv4(CLIENT, SERVER, 1, icmp(12, 0, b'\x14\0\0\0', quote(udp_in_client)), ttl=1, ident=0x1117, flags=0)),
    'parameter problem from the client with TTL 1')
dying_echo = ipv4(CLIENT, SERVER, 1, echo(8, 0x3333, 1), ttl=1, ident=0x1118)
add('ttl1-ping-client', from_client(dying_echo), 'echo request with TTL 1 for 203.0.113.10')
add('ttl1-ping-exceeded', eth(CLIENT_MAC, PRIVATE_MAC, ipv4(GATEWAY, CLIENT, 1, icmp(11, 0, b'\0\0\0\0', dying_echo), ttl=64, ident=0, flags=0)),
    'time exceeded quoting the whole echo request')
add('ttl1-gateway', from_client(ipv4(CLIENT, GATEWAY, 1, echo(8, 0x2222, 1), ttl=1, ident=0x1113)),
    'echo request with TTL 1 for the gateway itself')

# --- Host frames, group frames, other types ------------------------------------------------
hosted = ipv4(HOSTED, CLIENT, 17, udp(HOSTED, CLIENT, 67, 68, b'offer'), ident=0x1212)
add('host-hosted-source', eth(CLIENT_MAC, PRIVATE_MAC, hosted), 'the host sends from 192.168.137.1 on the hotspot adapter')
add('host-gateway-source', eth(CLIENT_MAC, PRIVATE_MAC, ipv4(GATEWAY, CLIENT, 17, udp(GATEWAY, CLIENT, 67, 68, b'offer'), ident=0x1213)),
    'the host sends from 192.168.51.1')
discover = ipv4(ip('0.0.0.0'), ip('255.255.255.255'), 17, udp(ip('0.0.0.0'), ip('255.255.255.255'), 68, 67, b'\x01\x01\x06\x00' + bytes(40)), ttl=64, ident=0, flags=0)
add('dhcp-discover', eth(BROADCAST_MAC, CLIENT_MAC, corrupt(discover, 10)),
    'broadcast DHCP discover (its IPv4 checksum even wrong): never looked at')
arp = struct.pack('!HHBBH', 1, 0x0800, 6, 4, 1) + CLIENT_MAC + CLIENT + bytes(6) + GATEWAY + bytes(18)
add('arp-request', eth(BROADCAST_MAC, CLIENT_MAC, arp, 0x0806), 'ARP who-has 192.168.51.1')
ipv6 = bytes.fromhex('6000000000083a40') + bytes.fromhex('fe800000000000000000000000000001') * 2 + bytes.fromhex('8000e7b600010001')
add('ipv6-unicast', eth(PRIVATE_MAC, CLIENT_MAC, ipv6, 0x86DD), 'IPv6 echo request to the gateway MAC')
gre = ipv4(CLIENT, SERVER, 47, bytes(8), ident=0x1414)
add('gre-client', from_client(gre), 'protocol 47 from a client')
add('gre-client-hop', from_client(ipv4(CLIENT, SERVER, 47, bytes(8), ttl=63, ident=0x1414)), 'passed with TTL 63')

# --- Truncated frames ----------------------------------------------------------------------
add('runt', from_client(syn)[:10], '10 bytes: not even an Ethernet header')
add('ipv4-cut-header', from_client(syn)[:14 + 16], 'IPv4 header cut after 16 bytes')
add('ipv4-cut-payload', from_client(syn)[:14 + 30], 'IPv4 total length 40, 30 bytes present')

# --- Fragmentation both ways ---------------------------------------------------------------
big_payload = bytes((i * 7) & 0xFF for i in range(1472))
big = ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7100, 9000, big_payload), ident=0x5555)
add('udp-1500-client', from_client(big), '1500-byte UDP packet (don\'t fragment set) from the client')
big_public = ipv4(PUBLIC, SERVER, 17, udp(PUBLIC, SERVER, 10000, 9000, big_payload), ttl=63, ident=0x5555)
for i, piece in enumerate(fragments(big_public, 1400)):
    add('udp-1500-public-%d' % i, out(piece), 'translated, fragment %d for an MTU of 1400' % i)
mid_payload = bytes((i * 3) & 0xFF for i in range(992))
mid = ipv4(CLIENT, SERVER, 17, udp(CLIENT, SERVER, 7200, 9000, mid_payload), ident=0x6666, flags=0)
for i, piece in enumerate(fragments(mid, 620)):
    add('udp-frag-client-%d' % i, from_client(piece), 'client datagram of 1028 bytes, fragment %d' % i)
add('udp-frag-public', out(ipv4(PUBLIC, SERVER, 17, udp(PUBLIC, SERVER, 10000, 9000, mid_payload), ttl=63, ident=0x6666, flags=0)),
    'reassembled and translated whole')

def write(name, frame, note):
    lines = ['# ' + note, '# %d bytes' % len(frame)]
    for i in range(0, len(frame), 16):
        lines.append(' '.join('%02x' % b for b in frame[i:i + 16]))
    with open(os.path.join(HERE, name + '.hex'), 'w') as f:
        f.write('\n'.join(lines) + '\n')

for name, (frame, note) in FRAMES.items():
    write(name, frame, note)
print('%d frames written' % len(FRAMES))
