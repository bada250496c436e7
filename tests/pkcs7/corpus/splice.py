"""Edits a DER signed message of the corpus where openssl has no option.

splice.py IN CRL OUT            adds CRL as revocation information and an
                                unsigned timestamp-token attribute to the
                                first signer
splice.py --flip-signature IN - OUT
                                spoils the first signer's signature
"""
import sys


def read(data, pos=0):
    """(tag, header length, content length) of the element at pos."""
    tag = data[pos]
    first = data[pos + 1]
    if first < 0x80:
        return tag, 2, first
    n = first & 0x7F
    return tag, 2 + n, int.from_bytes(data[pos + 2:pos + 2 + n], "big")


def children(data):
    out, pos = [], 0
    while pos < len(data):
        _, h, n = read(data, pos)
        out.append(data[pos:pos + h + n])
        pos += h + n
    return out


def content(element):
    _, h, n = read(element)
    return element[h:h + n]


def encode(tag, body):
    n = len(body)
    if n < 0x80:
        return bytes([tag, n]) + body
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + body


def oid(text):
    arcs = [int(a) for a in text.split(".")]
    body = bytes([arcs[0] * 40 + arcs[1]])
    for arc in arcs[2:]:
        part = [arc & 0x7F]
        arc >>= 7
        while arc:
            part.insert(0, 0x80 | (arc & 0x7F))
            arc >>= 7
        body += bytes(part)
    return encode(0x06, body)


def main(argv):
    flip = argv[0] == "--flip-signature"
    if flip:
        argv = argv[1:]
    source, crl_file, target = argv
    message = open(source, "rb").read()
    info = children(content(message))
    signed = children(content(content(info[1])))
    signers = children(content(signed[-1]))
    first = children(content(signers[0]))
    if flip:
        signature = bytearray(content(first[-1]))
        signature[len(signature) // 2] ^= 0x01
        first[-1] = encode(0x04, bytes(signature))
    else:
        timestamp = encode(0x30, oid("1.2.840.113549.1.9.16.2.14") +
                           encode(0x31, encode(0x04, b"corpus timestamp token")))
        first.append(encode(0xA1, timestamp))
        crl = open(crl_file, "rb").read()
        signed.insert(len(signed) - 1, encode(0xA1, crl))
    signers[0] = encode(0x30, b"".join(first))
    signed[-1] = encode(0x31, b"".join(sorted(signers)))
    info[1] = encode(0xA0, encode(0x30, b"".join(signed)))
    open(target, "wb").write(encode(0x30, b"".join(info)))


main(sys.argv[1:])
