#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from real transcripts: the timelines
of the shipped scenarios (what the modem and the GPS receiver sent the
firmware, what the firmware sent the modem, the reports it posted), the
scenario files themselves, and the replies the drivers' tests script.

  fuzz/make_seeds.py TIMELINE... [--out fuzz/corpus]
"""
import argparse
import hashlib
import pathlib
import re
import shutil

CUT = 0xFF  # batch cut / pause / quiet marker of the byte-stream targets
LINE = re.compile(r'^(\d+\.\d+) UART(\d) (sent|received) ([0-9A-F]{2})')
HTTP_DATA = re.compile(r'^\S+ UART4 peer http-data (.*)$')


def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        if text[i] == '\\' and i + 1 < len(text):
            c = text[i + 1]
            if c == 'x':
                out.append(int(text[i + 2:i + 4], 16))
                i += 4
                continue
            out += {'r': b'\r', 'n': b'\n', 't': b'\t', 'e': b'', '\\': b'\\'}.get(c, c.encode())
            i += 2
            continue
        out += text[i].encode()
        i += 1
    return bytes(out)


def stream(timeline, uart, direction, gap):
    """The bytes one way on a UART, with a cut where the line was quiet."""
    out = bytearray()
    last = None
    for line in timeline:
        m = LINE.match(line)
        if not m or int(m.group(2)) != uart or m.group(3) != direction:
            continue
        t = float(m.group(1))
        if last is not None and t - last > gap:
            out.append(CUT)
        out.append(int(m.group(4), 16))
        last = t
    return bytes(out)


def windows(data, size):
    """Pieces of about size bytes, each ending at a cut."""
    pieces, start = [], 0
    for i, byte in enumerate(data):
        if byte == CUT and i + 1 - start >= size:
            pieces.append(data[start:i + 1])
            start = i + 1
    if start < len(data):
        pieces.append(data[start:])
    return pieces


def write(folder, seeds):
    folder.mkdir(parents=True, exist_ok=True)
    for seed in seeds:
        (folder / hashlib.sha1(seed).hexdigest()[:16]).write_bytes(seed)


def distinct(pieces, most):
    seen, out = set(), []
    for piece in pieces:
        if piece not in seen:
            seen.add(piece)
            out.append(piece)
    return out[:most]


# Sentences of the NMEA reference's own examples, from all four quarters of
# the globe; the first with its checksums left to the target ('!').
NMEA_EXAMPLES = [
    b'!$GPRMC,225446,A,4916.45,N,12311.12,W,000.5,054.7,191194,020.3,E*00\r\n'
    b'$GPGGA,092750.000,5321.6802,S,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*00\r\n',
    b'$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n'
    b'\xff$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n',
]

# The SMS dialogue as the modem holds it: one byte choosing the exchange
# (0 init, 1 send, 2 receive), then the replies in order.
GSM_REPLIES = [
    b'\x00\r\nOK\r\n\xff\r\nOK\r\n',
    b'\x00\r\nERROR\r\n\xff\r\nOK\r\n\xff\r\nOK\r\n',
    b'\x00AT\r\r\nOK\r\n\xffATE0\r\r\nOK\r\n',
    b'\x01\r\nOK\r\n\xff\r\n> \xff\r\n+CMGS: 12\r\n\r\nOK\r\n',
    b'\x01\r\nOK\r\n\xff\r\n> \xff\r\n+CMS ERROR: 331\r\n',
    b'\x02\r\n+CMTI: "SM",3\r\n\xff\r\n+CPMS: 1,30,1,30,1,30\r\n\r\n+CMGR: "REC UNREAD","+905550001111","",'
    b'"26/12/08,10:00:00+12"\r\nHello @250$\r\n\r\nOK\r\n\xff\r\nOK\r\n',
    b'\x02\r\nRING\r\n\r\nCall Ready\r\n\r\n+CMTI: "SM",12\r\n\xff\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n',
]

# The camera's replies as its manual frames them: the command and its
# arguments in 8 bytes (command, serial, argument, length, stale bytes,
# pause), then the camera's bytes.
def camera(command, argument, length, stale, reply, pause=5):
    return bytes([command, 0, argument, length >> 8, length & 0xFF, len(stale), pause >> 8, pause & 0xFF]) + stale + reply


CAMERA_REPLIES = [
    camera(0, 0, 0, b'', bytes([0x76, 0, 0x26, 0, 0]) + b'VC0703 1.00\r\nCtrl infr exist\r\nUser-defined sensor\r\n625\r\n'),
    camera(1, 0, 0, bytes([0x76, 0, 0x36, 0, 0]), bytes([0x76, 0, 0x36, 0, 0])),
    camera(2, 0, 0, b'', bytes([0x76, 0, 0x34, 0, 4, 0, 0, 0x13, 0x88]), 9),
    camera(3, 0, 16, b'', bytes([0x76, 0, 0x32, 0, 0]) + bytes([0xFF, 0xD8]) + bytes(range(12)) + bytes([0xFF, 0xD9])
           + bytes([0x76, 0, 0x32, 0, 0])),
    camera(4, 1, 4, b'', bytes([0x76, 0, 0x30, 0, 0, 0xA0, 0xA1, 0xA2, 0xA3])),
    camera(4, 6, 2, b'', bytes([0x76, 0, 0x30, 0, 0, 0, 0x12, 0x34]), 6),
]

# The caretaker's page and tools; SECRET and SESSION stand for the secret
# and a live session's token.
CARETAKER_REQUESTS = [
    b'GET /getCircle HTTP/1.1\r\nHost: 203.0.113.10:5000\r\n\r\n',
    b'GET / HTTP/1.1\r\nHost: localhost\r\nCookie: session=SESSION\r\n\r\n',
    b'GET /login HTTP/1.1\r\nHost: localhost\r\n\r\n',
    b'POST /login HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n'
    b'Content-Length: 13\r\n\r\nsecret=SECRET',
    b'POST /settings HTTP/1.1\r\nHost: localhost\r\nCookie: session=SESSION\r\n'
    b'Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 10\r\n\r\nradius=300',
    b'GET /api/reports?since=0&limit=10 HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer SECRET\r\n\r\n',
    b'PUT /api/settings HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer SECRET\r\n'
    b'Content-Type: application/json\r\nContent-Length: 15\r\n\r\n{"radius": 300}',
    b'POST /logout HTTP/1.1\r\nHost: localhost\r\nCookie: session=SESSION\r\nContent-Length: 0\r\n\r\n',
]

# Records as the firmware writes them before its first fix and far from home.
RECORDS = [b'         ,         ,10\r\n', b'-33.86882,151.20929,72\r\n', b'-0.5     ,-122.4194,7 \r\n']


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('timelines', nargs='+')
    parser.add_argument('--scenarios', default='scenarios')
    parser.add_argument('--out', default='fuzz/corpus')
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    modem, nmea, commands, records = [], [], [], []
    for path in args.timelines:
        timeline = pathlib.Path(path).read_text().splitlines()
        # The modem's output in the batches the receive FIFO forms: a pause
        # longer than two characters ends one.
        modem += windows(stream(timeline, 4, 'received', 0.0025), 600)
        nmea += windows(stream(timeline, 2, 'received', 0.02), 600)
        commands += windows(stream(timeline, 4, 'sent', 1.5), 600)
        for line in timeline:
            m = HTTP_DATA.match(line)
            if m:
                records.append(unescape(m.group(1)))
    write(out / 'modem_interpreter', distinct(modem, 40))
    write(out / 'position_source', distinct(nmea, 20) + NMEA_EXAMPLES)
    # 0xFE first: the same lines to the field profile's modem.
    write(out / 'sim900_commands', distinct(commands, 30) + [b'\xfe' + c for c in distinct(commands, 6)])
    write(out / 'report_record', distinct(records, 10) + RECORDS)
    posts = [b'POST /postData HTTP/1.1\r\nHost: 203.0.113.10:5000\r\nContent-Type: text/plain\r\n'
             b'Content-Length: %d\r\n\r\n%s' % (len(r), r) for r in distinct(records, 3)]
    write(out / 'report_server', posts + CARETAKER_REQUESTS)
    write(out / 'gsm_replies', GSM_REPLIES)
    write(out / 'camera_replies', CAMERA_REPLIES)
    scenarios = out / 'scenario_file'
    scenarios.mkdir(parents=True, exist_ok=True)
    for scenario in sorted(pathlib.Path(args.scenarios).glob('*.toml')):
        shutil.copy(scenario, scenarios / scenario.name)


if __name__ == '__main__':
    main()
