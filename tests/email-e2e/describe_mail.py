#!/usr/bin/env python3
"""describe_mail.py FILE...

Parses the message in each FILE with Python's email package and prints a
JSON array with one object per message: the header fields, the parser's
defects, and every leaf part with its type, file name, Content-MD5 field,
the decoded subject, the MD5 digest (base64) of its decoded bytes its size, its MD5 in hex and, below
1 MiB, those bytes in hex (text parts also as text).
"""
import base64
import email
import email.header
import email.policy
import hashlib
import json
import sys


def describe(path):
    with open(path, "rb") as source:
        message = email.message_from_binary_file(source, policy=email.policy.compat32)
    parts = []
    for part in message.walk():
        if part.is_multipart():
            continue
        data = part.get_payload(decode=True)
        parts.append({
            "type": part.get_content_type(),
            "filename": part.get_filename(),
            "md5": part.get("Content-MD5"),
            "digest": base64.b64encode(hashlib.md5(data).digest()).decode("ascii"),
            "hex": data.hex() if len(data) < 1048576 else None,
            "md5hex": hashlib.md5(data).hexdigest(),
            "size": len(data),
            "text": data.decode("utf-8", "replace") if part.get_content_maintype() == "text" else None,
        })
    return {
        "headers": {name: value for name, value in message.items()},
        "subject": str(email.header.make_header(email.header.decode_header(message.get("Subject", "")))),
        "multipart": message.is_multipart(),
        "defects": [type(defect).__name__ for defect in message.defects],
        "parts": parts,
    }


print(json.dumps([describe(path) for path in sys.argv[1:]]))
