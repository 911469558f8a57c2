#!/usr/bin/env python3
"""Writes the seed corpora: real replies and request streams as the server and
client exchange them, plus a few of the malformed shapes worth starting from."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def i64(v):
    return struct.pack(">q", v)


def message(msg_type, payload=b""):
    return i64(16 + len(payload)) + i64(msg_type) + payload


def counted(text):
    data = text.encode() if isinstance(text, str) else text
    return i64(len(data)) + data


def text_list(msg_type, items):
    return message(msg_type, i64(len(items)) + b"".join(counted(t) for t in items))


JOBS = [
    "alice\nfem_static\nalice/job-0001/model.prja\nQueued\n\nyes",
    "alice\ncfd_transient_3\nalice/job-0002/pipe.prja\nRunning (step 2/5)\nstarted\\|step 1 done\\|step 2 done\nyes",
    "bob\nthermal\nbob/job-0003/plate.prjb\nProcessed\nsolved\\|Ready for download: plate.zip\nno",
    "fem_static\nalice/job-0004/beam.prja\nFailed\nmesh error",
]

SEEDS = {
    "decode_string_list": {
        "solvers": text_list(107, ["fem_static", "cfd_transient_3", "thermal"]),
        "empty": text_list(107, []),
        "umlaut_zero": text_list(107, ["l\u00f6ser", b"ab\x00cd"]),
        "short": message(107, b"\x00" * 7),
        "huge_count": message(107, i64(1 << 62) + counted("x")),
    },
    "decode_job_list": {
        "jobs": text_list(102, JOBS),
        "empty": text_list(102, []),
        "five_parts": text_list(102, [JOBS[0], "a\nb\nc\nd\ne"]),
        "trailing_lf": text_list(102, ["s\np\nQueued\nm\n"]),
        "past_end": message(102, i64(2) + counted(JOBS[1]) + i64(500) + b"s\np"),
    },
}


def two_lists(first, second):
    """The refresh target's input: the length of the first list, both lists."""
    return struct.pack("<H", len(first)) + first + second


changed = [JOBS[0], JOBS[1].replace("step 2/5", "step 3/5"), JOBS[2]]
SEEDS["job_list_refresh"] = {
    "one_changed": two_lists(text_list(102, JOBS[:3]), text_list(102, changed)),
    "grown": two_lists(text_list(102, JOBS[:2]), text_list(102, JOBS)),
    "shrunk": two_lists(text_list(102, JOBS), text_list(102, JOBS[1:2])),
    "bad_changed_line": two_lists(text_list(102, JOBS), text_list(102, [JOBS[0], "a\nb"])),
}


def records(stream, sizes):
    """The reassembly target's input: length-prefixed segments of a stream."""
    out, pos = b"", 0
    for size in sizes:
        chunk = stream[pos:pos + size]
        out += bytes([len(chunk)]) + chunk
        pos += size
    while pos < len(stream):
        chunk = stream[pos:pos + 255]
        out += bytes([len(chunk)]) + chunk
        pos += 255
    return out


login_then_list = message(100) + text_list(107, ["fem_static", "thermal"])
SEEDS["reassembly"] = {
    "login_solvers": records(login_then_list, [16]),
    "split_header": records(text_list(102, JOBS), [10, 6, 40]),
    "download": records(message(104, bytes(range(256)) * 3), [16, 100, 100]),
    "two_in_one": records(message(103) + message(106), []),
    "surplus": records(text_list(107, ["a"]) + message(103), [20]),
    "oversize": records(i64(1073741825) + i64(104), []),
    "undersize": records(i64(15) + i64(100), []),
    "error_reply": records(message(204), []),
}



def job_request(archive, lines):
    text = counted("\n".join(lines))
    return i64(16 + len(text) + len(archive)) + i64(3) + text + archive


login = message(1, b"alice\n" + b"d41d8cd98f00b204e9800998ecf8427e")
zip_bytes = b"PK\x05\x06" + bytes(18)
SEEDS["server_requests"] = {
    "login_list": records(login + message(8) + message(4), [7, 30]),
    "submit": records(login + job_request(zip_bytes, ["beam-demo.zip", "fem_static", "beam.prja", "-np 2", "1"]),
                      [51, 16, 8]),
    "submit_empty": records(job_request(b"", ["a.zip", "thermal", "", "", "0"]), []),
    "path_commands": records(message(5, counted("alice/job-0001/beam.prja"))
                             + message(6, counted("alice/job-0002/m.prja"))
                             + message(7, counted("x")) + message(2), [20]),
    "bad_header_text": records(job_request(b"abc", ["only", "three", "lines"]), []),
    "undersize": records(i64(8) + i64(4), []),
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
