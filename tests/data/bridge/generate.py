#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the golden frames of the bridge-mode forwarding tests (run once; the .hex files are
# kept). Every frame, the expected rewritten ones included, is built from scratch here with
# its checksums, so what the tests expect does not come from the code under test.
#
# The bridged segment is 198.51.100.0/24: clients behind the hotspot adapter get their
# addresses from the upstream gateway's DHCP server, the host's own Internet-side address is
# 198.51.100.2.
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

def ip(text):
    return bytes(int(x) for x in text.split('.'))

def mac(text):
    return bytes(int(x, 16) for x in text.split(':'))

CLIENT = ip('198.51.100.50');     CLIENT_MAC = mac('02:00:00:00:00:0a')
GATEWAY = ip('198.51.100.1');     GATEWAY_MAC = mac('02:00:00:00:02:fe')
HOST = ip('198.51.100.2')
SERVER = ip('203.0.113.10')
HOTSPOT_MAC = mac('02:00:00:00:01:01')   # the hotspot adapter
INTERNET_MAC = mac('02:00:00:00:02:02')  # the Internet-side adapter
OTHER_MAC = mac('02:00:00:00:00:0b')     # a MAC the proxy table already holds for CLIENT
BROADCAST_MAC = mac('ff:ff:ff:ff:ff:ff')
ANY = ip('0.0.0.0')
BROADCAST = ip('255.255.255.255')

def checksum(data):
    """RFC 1071, word by word."""
    if len(data) % 2:
        data += b'\0'
    total = 0
    for i in range(0, len(data), 2):
        total += (data[i] << 8) | data[i + 1]
        total = (total & 0xFFFF) + (total >> 16)
    return (~total) & 0xFFFF

def pad(frame):
    return frame + b'\0' * max(0, 60 - len(frame))

def eth(dst, src, payload, ethertype=0x0800):
    return pad(dst + src + struct.pack('!H', ethertype) + payload)

def ipv4(src, dst, proto, payload, ttl=64, ident=0x2000, flags=0, total=None, sum=None):
    length = 20 + len(payload) if total is None else total
    header = struct.pack('!BBHHHBBH4s4s', 0x45, 0, length, ident, flags, ttl, proto, 0, src, dst)
    value = checksum(header) if sum is None else sum
    return header[:10] + struct.pack('!H', value) + header[12:] + payload

def udp(src, dst, sport, dport, payload, with_checksum=True, sum=None):
    length = 8 + len(payload)
    datagram = struct.pack('!HHHH', sport, dport, length, 0) + payload
    if not with_checksum:
        return datagram
    pseudo = src + dst + struct.pack('!BBH', 0, 17, length)
    value = (checksum(pseudo + datagram) or 0xFFFF) if sum is None else sum
    return datagram[:6] + struct.pack('!H', value) + datagram[8:]

def icmp_echo(ident, seq):
    message = struct.pack('!BBHHH', 8, 0, 0, ident, seq) + b'abcdefghijklmnopqrstuvwabcdefghi'
    return message[:2] + struct.pack('!H', checksum(message)) + message[4:]

def arp(op, sender_mac, sender, target_mac, target):
    return struct.pack('!HHBBH', 1, 0x0800, 6, 4, op) + sender_mac + sender + target_mac + target

def options(*pairs):
    out = b''
    for code, value in pairs:
        out += bytes([code, len(value)]) + value
    return out + b'\xff'

def dhcp(op, flags, chaddr, opts, yiaddr=ANY, hlen=6, xid=0x3903f326):
    fixed = struct.pack('!BBBBIHH4s4s4s4s', op, 1, hlen, 0, xid, 0, flags, ANY, yiaddr, ANY, ANY)
    fixed += chaddr + b'\0' * (16 - len(chaddr)) + b'\0' * 192 + struct.pack('!I', 0x63825363)
    return fixed + opts

def dhcp_frame(src_mac, src, dst, sport, dport, message, with_checksum=True, udp_sum=None, ip_sum=None):
    datagram = udp(src, dst, sport, dport, message, with_checksum, udp_sum)
    return eth(BROADCAST_MAC, src_mac, ipv4(src, dst, 17, datagram, ttl=64 if src != ANY else 128, sum=ip_sum))

FRAMES = []

def add(name, frame, note):
    FRAMES.append((name, frame, note))

# --- ARP ---------------------------------------------------------------------------------
add('arp-request-client', eth(BROADCAST_MAC, CLIENT_MAC, arp(1, CLIENT_MAC, CLIENT, b'\0' * 6, GATEWAY), 0x0806),
    'the client asks for 198.51.100.1, broadcast')
add('arp-request-client-hidden', eth(BROADCAST_MAC, INTERNET_MAC, arp(1, INTERNET_MAC, CLIENT, b'\0' * 6, GATEWAY), 0x0806),
    'the same request as it leaves a wireless Internet side: the adapter MAC as Ethernet and ARP sender')
add('arp-reply-gateway', eth(INTERNET_MAC, GATEWAY_MAC, arp(2, GATEWAY_MAC, GATEWAY, INTERNET_MAC, CLIENT), 0x0806),
    'the gateway answers the hidden client: to the Internet-side adapter MAC')
add('arp-reply-gateway-client', eth(CLIENT_MAC, GATEWAY_MAC, arp(2, GATEWAY_MAC, GATEWAY, CLIENT_MAC, CLIENT), 0x0806),
    'the answer turned back to the client real MAC (target MAC and Ethernet destination)')
add('arp-reply-gateway-other', eth(OTHER_MAC, GATEWAY_MAC, arp(2, GATEWAY_MAC, GATEWAY, OTHER_MAC, CLIENT), 0x0806),
    'the answer turned to the MAC the proxy table held first')
add('arp-reply-gateway-hidden', eth(CLIENT_MAC, HOTSPOT_MAC, arp(2, HOTSPOT_MAC, GATEWAY, CLIENT_MAC, CLIENT), 0x0806),
    'the answer for the client under the hotspot adapter MAC (wireless on both sides)')
add('arp-reply-host', eth(CLIENT_MAC, HOTSPOT_MAC, arp(2, HOTSPOT_MAC, HOST, CLIENT_MAC, CLIENT), 0x0806),
    'the host answers a client on the hotspot adapter, unicast')
add('arp-request-host', eth(BROADCAST_MAC, HOTSPOT_MAC, arp(1, HOTSPOT_MAC, HOST, b'\0' * 6, CLIENT), 0x0806),
    'the host asks for the client on the hotspot adapter, broadcast')
add('arp-probe-client', eth(BROADCAST_MAC, CLIENT_MAC, arp(1, CLIENT_MAC, ANY, b'\0' * 6, CLIENT), 0x0806),
    'address conflict probe of the client: sender address 0.0.0.0')
add('arp-probe-client-hidden', eth(BROADCAST_MAC, INTERNET_MAC, arp(1, INTERNET_MAC, ANY, b'\0' * 6, CLIENT), 0x0806),
    'the probe under the Internet-side adapter MAC')
add('arp-short', (BROADCAST_MAC + CLIENT_MAC + b'\x08\x06' + arp(1, CLIENT_MAC, CLIENT, b'\0' * 6, GATEWAY))[:14 + 20],
    'ARP body of 20 bytes (28 needed), no padding')
add('arp-long-addresses', eth(BROADCAST_MAC, CLIENT_MAC, struct.pack('!HHBBH', 6, 0x0800, 8, 4, 1) + bytes(range(8)) + CLIENT + b'\0' * 8 + GATEWAY, 0x0806),
    'ARP with 8-byte hardware addresses: not Ethernet/IPv4')

# --- IPv4 --------------------------------------------------------------------------------
ping = ipv4(CLIENT, SERVER, 1, icmp_echo(0x0101, 1))
add('ping-client', eth(GATEWAY_MAC, CLIENT_MAC, ping), 'echo request of the client to 203.0.113.10 via the gateway MAC')
add('ping-client-hotspot', eth(HOTSPOT_MAC, CLIENT_MAC, ping), 'the same, addressed to the hotspot adapter MAC (the gateway as a wireless hotspot shows it)')
add('ping-client-hidden', eth(GATEWAY_MAC, INTERNET_MAC, ping), 'the echo request on a wireless Internet side')
pong = ipv4(SERVER, CLIENT, 1, icmp_echo(0x0101, 1), ttl=50)
add('pong-internet', eth(CLIENT_MAC, GATEWAY_MAC, pong), 'the answer to the client MAC (wired Internet side, promiscuous)')
add('pong-internet-hidden', eth(INTERNET_MAC, GATEWAY_MAC, pong), 'the answer on a wireless Internet side: to the adapter MAC')
add('pong-client-hotspot', eth(CLIENT_MAC, HOTSPOT_MAC, pong), 'the answer for the client under the hotspot adapter MAC')
add('ping-host-public', eth(INTERNET_MAC, CLIENT_MAC, ipv4(CLIENT, HOST, 1, icmp_echo(0x0202, 1))),
    'the client pings the host: to the Internet-side adapter MAC')
add('ping-host-hotspot', eth(HOTSPOT_MAC, CLIENT_MAC, ipv4(CLIENT, HOST, 1, icmp_echo(0x0202, 1))),
    'the client pings the host: to the hotspot adapter MAC')
add('host-to-client', eth(CLIENT_MAC, HOTSPOT_MAC, ipv4(HOST, CLIENT, 17, udp(HOST, CLIENT, 4000, 5000, b'host data'))),
    'a datagram the host sends to the client on the hotspot adapter')
add('host-to-client-public', eth(CLIENT_MAC, INTERNET_MAC, ipv4(HOST, CLIENT, 17, udp(HOST, CLIENT, 4000, 5000, b'host data'))),
    'the same datagram as the host sends it on the Internet-side adapter')
add('host-to-server', eth(GATEWAY_MAC, INTERNET_MAC, ipv4(HOST, SERVER, 17, udp(HOST, SERVER, 4001, 5001, b'host data'))),
    'a datagram the host sends to 203.0.113.10 on the Internet-side adapter')
add('udp-broadcast-client', eth(BROADCAST_MAC, CLIENT_MAC, ipv4(CLIENT, BROADCAST, 17, udp(CLIENT, BROADCAST, 5353, 5353, b'who is there'))),
    'a UDP broadcast of the client')
add('udp-broadcast-client-hidden', eth(BROADCAST_MAC, INTERNET_MAC, ipv4(CLIENT, BROADCAST, 17, udp(CLIENT, BROADCAST, 5353, 5353, b'who is there'))),
    'the broadcast on a wireless Internet side')
add('ipv4-cut-header', (GATEWAY_MAC + CLIENT_MAC + b'\x08\x00' + ping)[:14 + 12], 'IPv4 header cut after 12 bytes')
add('ipv4-cut-payload', eth(GATEWAY_MAC, CLIENT_MAC, ipv4(CLIENT, SERVER, 1, icmp_echo(0x0101, 1), total=200)),
    'IPv4 total length 200 in a 74-byte frame')

# --- other EtherTypes ----------------------------------------------------------------------
ipv6 = struct.pack('!IHBB', 0x60000000, 8, 17, 64) + bytes(16) + bytes(15) + b'\x01' + struct.pack('!HHHH', 1, 2, 8, 0)
add('ipv6-internet', eth(CLIENT_MAC, GATEWAY_MAC, ipv6, 0x86DD), 'IPv6 unicast to the client MAC')
add('vlan-client', eth(GATEWAY_MAC, CLIENT_MAC, struct.pack('!HH', 0x0005, 0x0800) + ping, 0x8100),
    'VLAN 5 tagged IPv4 of the client')
add('lldp-client', eth(mac('01:80:c2:00:00:0e'), CLIENT_MAC, bytes(range(32)), 0x88CC), 'LLDP multicast of the client')

# --- DHCP --------------------------------------------------------------------------------
discover = dhcp(1, 0x0000, CLIENT_MAC, options((53, b'\x01'), (61, b'\x01' + CLIENT_MAC)))
add('dhcp-discover', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, discover), 'DISCOVER, flags 0')
add('dhcp-discover-broadcast', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67,
    dhcp(1, 0x8000, CLIENT_MAC, options((53, b'\x01'), (61, b'\x01' + CLIENT_MAC)))),
    'the DISCOVER as it leaves a wireless Internet side: flags 0x8000, adapter MAC, fresh checksums')
add('dhcp-discover-nosum', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, discover, with_checksum=False),
    'DISCOVER, flags 0, no UDP checksum')
add('dhcp-discover-nosum-broadcast', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67,
    dhcp(1, 0x8000, CLIENT_MAC, options((53, b'\x01'), (61, b'\x01' + CLIENT_MAC))), with_checksum=False),
    'flags 0x8000, UDP checksum still 0')
unicast_flag = dhcp(1, 0x0001, CLIENT_MAC, options((53, b'\x01')))
add('dhcp-discover-flagged', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, unicast_flag), 'DISCOVER, flags 0x0001 (not 0)')
add('dhcp-discover-flagged-hidden', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67, unicast_flag), 'the same under the adapter MAC, flags kept')
bad = udp(ANY, BROADCAST, 68, 67, discover)
bad_sum = struct.unpack('!H', bad[6:8])[0] ^ 0x5555
add('dhcp-discover-bad-udp', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, discover, udp_sum=bad_sum), 'DISCOVER with a wrong UDP checksum')
add('dhcp-discover-bad-udp-hidden', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67, discover, udp_sum=bad_sum), 'the same under the adapter MAC, flags and checksum as they were')
add('dhcp-discover-bad-ip', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, discover, ip_sum=0x1234), 'DISCOVER with a wrong IP header checksum')
add('dhcp-discover-bad-ip-hidden', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67, discover, ip_sum=0x1234), 'the same under the adapter MAC, untouched otherwise')
add('dhcp-short', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, discover[:200]), 'a DHCP message of 200 bytes (fixed part cut)')
add('dhcp-short-hidden', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67, discover[:200]), 'the same under the adapter MAC')
overrun = dhcp(1, 0x0000, CLIENT_MAC, b'\x35\x01\x03\x0c\x40pixel', hlen=255)
add('dhcp-overrun', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, overrun),
    'REQUEST with hlen 255 and a host name option claiming 64 bytes of which 5 are there')
add('dhcp-overrun-broadcast', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67,
    dhcp(1, 0x8000, CLIENT_MAC, b'\x35\x01\x03\x0c\x40pixel', hlen=255)), 'the same with the broadcast flag')
request = dhcp(1, 0x0000, CLIENT_MAC, options((53, b'\x03'), (50, CLIENT), (54, GATEWAY), (12, b'pixel-7')))
add('dhcp-request', dhcp_frame(CLIENT_MAC, ANY, BROADCAST, 68, 67, request), 'REQUEST for 198.51.100.50 with host name pixel-7')
add('dhcp-request-broadcast', dhcp_frame(INTERNET_MAC, ANY, BROADCAST, 68, 67,
    dhcp(1, 0x8000, CLIENT_MAC, options((53, b'\x03'), (50, CLIENT), (54, GATEWAY), (12, b'pixel-7')))),
    'the REQUEST on a wireless Internet side')
ack_options = options((53, b'\x05'), (54, GATEWAY), (51, struct.pack('!I', 3600)), (1, ip('255.255.255.0')), (3, GATEWAY))
ack = dhcp(2, 0x8000, CLIENT_MAC, ack_options, yiaddr=CLIENT)
add('dhcp-ack', dhcp_frame(GATEWAY_MAC, GATEWAY, BROADCAST, 67, 68, ack), 'ACK of 198.51.100.50 for the client, broadcast')
add('dhcp-ack-hotspot', dhcp_frame(HOTSPOT_MAC, GATEWAY, BROADCAST, 67, 68, ack), 'the ACK under the hotspot adapter MAC')
add('dhcp-ack-bad-udp', dhcp_frame(GATEWAY_MAC, GATEWAY, BROADCAST, 67, 68, ack,
    udp_sum=struct.unpack('!H', udp(GATEWAY, BROADCAST, 67, 68, ack)[6:8])[0] ^ 0x00FF), 'the ACK with a wrong UDP checksum')
inform_ack = dhcp(2, 0x0000, CLIENT_MAC, options((53, b'\x05'), (54, GATEWAY)))
add('dhcp-inform-ack', dhcp_frame(GATEWAY_MAC, GATEWAY, BROADCAST, 67, 68, inform_ack), 'ACK to an INFORM: your-address 0')
offer = dhcp(2, 0x8000, CLIENT_MAC, options((53, b'\x02'), (54, GATEWAY)), yiaddr=CLIENT)
add('dhcp-offer', dhcp_frame(GATEWAY_MAC, GATEWAY, BROADCAST, 67, 68, offer), 'OFFER of 198.51.100.50')

def write(name, frame, note):
    lines = ['# ' + note, '# %d bytes' % len(frame)]
    for i in range(0, len(frame), 16):
        lines.append(' '.join('%02x' % b for b in frame[i:i + 16]))
    with open(os.path.join(HERE, name + '.hex'), 'w') as f:
        f.write('\n'.join(lines) + '\n')

for name, frame, note in FRAMES:
    write(name, frame, note)
