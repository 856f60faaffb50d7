#!/usr/bin/python3
# Debian's PKCS#11 applications against the module, with a card in the first virtual
# reader: pkcs11-tool, p11tool, p11-kit with a private configuration, and a PyKCS11
# script. The test build of the module makes any card it does not know the fake
# token, so its part runs with a card that carries no vOK application (played by
# this script in a process of its own); the shipped module runs with the simulated
# vOK card: its token, mechanisms and objects; logged in, its private keys,
# signatures that OpenSSL verifies, decryption and the PIN changes; pkcs11-tool's
# own test with the PIN, hashes, a signature made on the card verified, and a
# certificate and then its keys deleted from the card.
# Usage: clients_test.py TEST_MODULE CARDSIM MODULE
#        clients_test.py --other-card   (the card without a vOK application)
import hashlib
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

READERS = ["Virtual PCD 00 00", "Virtual PCD 00 01"]
LABEL = "Fake test token"
PIN = "123456"
OBJECTS = ["Fake data one", "Fake data two"]  # the data objects on the test build's token
failures = []


def other_card():
    """A card in the first virtual reader that answers every command with 6D 00,
    driven like cardsim by the lines insert, remove and quit on standard input."""
    atr = bytes([0x3B, 0x02, 0x14, 0x50])
    link = {}

    def serve(sock):
        def read(n):
            data = b""
            while len(data) < n:
                chunk = sock.recv(n - len(data))
                if not chunk:
                    raise OSError("closed")
                data += chunk
            return data
        try:
            while True:
                length = struct.unpack(">H", read(2))[0]
                frame = read(length) if length else b""
                if length == 1 and frame[0] == 4:
                    sock.sendall(struct.pack(">H", len(atr)) + atr)
                elif length > 1:
                    sock.sendall(struct.pack(">H", 2) + bytes([0x6D, 0x00]))
        except OSError:
            pass

    for line in sys.stdin:
        command = line.strip()
        if command == "insert" and "sock" not in link:
            sock = socket.create_connection(("127.0.0.1", 35963))
            link["sock"] = sock
            link["thread"] = threading.Thread(target=serve, args=(sock,), daemon=True)
            link["thread"].start()
        elif command in ("remove", "quit") and "sock" in link:
            link["sock"].shutdown(socket.SHUT_RDWR)
            link.pop("thread").join()
            link.pop("sock").close()
        print("ok " + command, flush=True)
        if command == "quit":
            return 0
    return 0


if len(sys.argv) > 1 and sys.argv[1] == "--other-card":
    sys.exit(other_card())

import PyKCS11  # noqa: E402 (the card process above does without it)

TEST_MODULE, CARDSIM, MODULE = sys.argv[1], sys.argv[2], sys.argv[3]


def check(condition, what, detail=""):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)
        if detail:
            print(detail)


def run(*args, env=None):
    result = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
    return result.returncode, result.stdout + result.stderr


class Card:
    """A card in the first reader, driven through its control commands: the simulated
    vOK card, or the other card of this script."""

    def __init__(self, *args):
        program = list(args) or [sys.executable, __file__, "--other-card"]
        self.process = subprocess.Popen(program, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def listing(self, what):
        """The lines of a listing control command (files, keys); answers to earlier
        commands that nobody read are passed over."""
        self.process.stdin.write(what + "\n")
        self.process.stdin.flush()
        while True:
            header = self.process.stdout.readline().split()
            if not header or header[0] == "error" or header[:2] == ["ok", what]:
                break
        count = int(header[-1]) if header[:2] == ["ok", what] else 0
        return [self.process.stdout.readline().strip() for _ in range(count)]

    def close(self):
        try:
            self.command("quit")
        except (BrokenPipeError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()


def wait_for_token(lib, present, seconds=10):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if bool(lib.getSlotList(tokenPresent=True)) == present:
            return True
        time.sleep(0.05)
    return False


def tools():
    code, out = run("pkcs11-tool", "--module", TEST_MODULE, "--show-info")
    check(code == 0 and "2.20" in out and "vOK" in out and "vOK eID PKCS#11 library" in out,
          "pkcs11-tool --show-info", out)
    code, out = run("pkcs11-tool", "--module", TEST_MODULE, "-L")
    check(code == 0 and all(r in out for r in READERS) and LABEL in out,
          "pkcs11-tool -L lists both readers and the token", out)
    code, out = run("pkcs11-tool", "--module", TEST_MODULE, "-T")
    check(code == 0 and LABEL in out and out.count("Slot ") == 1, "pkcs11-tool -T", out)
    code, out = run("pkcs11-tool", "--module", TEST_MODULE, "-M")
    check(code == 0 and "SHA256-RSA-PKCS" in out and "SHA256" in out, "pkcs11-tool -M", out)
    code, out = run("pkcs11-tool", "--module", TEST_MODULE, "-O", "--login", "--pin", PIN)
    check(code == 0 and out.count("Data object") == len(OBJECTS)
          and all("label:          '%s'" % label in out for label in OBJECTS),
          "pkcs11-tool -O --login lists the token's objects", out)
    code, out = run("p11tool", "--provider", TEST_MODULE, "--list-tokens")
    check(code == 0 and LABEL in out, "p11tool --list-tokens", out)

    # p11-kit reads no user configuration as root: there the module file goes into a
    # private mount namespace over the system's module directory
    with tempfile.TemporaryDirectory() as home:
        conf = os.path.join(home, "pkcs11")
        modules = os.path.join(conf, "modules")
        os.makedirs(modules)
        with open(os.path.join(conf, "pkcs11.conf"), "w") as f:
            f.write("user-config: only\n")
        with open(os.path.join(modules, "vokral.module"), "w") as f:
            f.write("module: %s\n" % TEST_MODULE)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home)
        if os.geteuid() == 0:
            code, out = run("unshare", "-m", "sh", "-c",
                            'mount --bind "$0" /usr/share/p11-kit/modules && p11-kit list-modules',
                            modules, env=env)
        else:
            code, out = run("p11-kit", "list-modules", env=env)
        check(code == 0 and "vokral" in out and "vOK eID PKCS#11 library" in out
              and LABEL in out, "p11-kit list-modules with a private configuration", out)


def pykcs11(card):
    lib = PyKCS11.PyKCS11Lib()
    lib.load(TEST_MODULE)
    info = lib.getInfo()
    check(info.cryptokiVersion == (2, 20) and info.manufacturerID.strip() == "vOK",
          "PyKCS11 getInfo")
    slot = lib.getSlotList(tokenPresent=True)[0]
    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
    session.login(PIN)

    # objects: create, find, destroy
    data = session.createObject([
        (PyKCS11.CKA_CLASS, PyKCS11.CKO_DATA), (PyKCS11.CKA_TOKEN, False),
        (PyKCS11.CKA_LABEL, "pykcs11 data"), (PyKCS11.CKA_VALUE, b"some bytes")])
    found = session.findObjects([(PyKCS11.CKA_LABEL, "pykcs11 data")])
    check(len(found) == 1 and found[0].value() == data.value(), "PyKCS11 create and find")
    value = session.getAttributeValue(found[0], [PyKCS11.CKA_VALUE])[0]
    check(bytes(value) == b"some bytes", "PyKCS11 attribute value")
    session.destroyObject(data)
    check(session.findObjects([(PyKCS11.CKA_LABEL, "pykcs11 data")]) == [], "PyKCS11 destroy")

    # sign and verify with a key pair generated in software
    public, private = session.generateKeyPair(
        [(PyKCS11.CKA_TOKEN, False), (PyKCS11.CKA_MODULUS_BITS, 2048),
         (PyKCS11.CKA_PUBLIC_EXPONENT, (1, 0, 1)), (PyKCS11.CKA_VERIFY, True)],
        [(PyKCS11.CKA_TOKEN, False), (PyKCS11.CKA_SIGN, True), (PyKCS11.CKA_PRIVATE, True)],
        mecha=PyKCS11.MechanismRSAGENERATEKEYPAIR)
    mechanism = PyKCS11.Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS, None)
    signature = session.sign(private, b"message", mechanism)
    check(len(signature) == 256, "PyKCS11 sign")
    check(session.verify(public, b"message", signature, mechanism), "PyKCS11 verify")
    check(not session.verify(public, b"other message", signature, mechanism),
          "PyKCS11 verify refuses another message")
    session.logout()
    session.closeSession()

    # slot events: a blocking wait wakes on removal and on insertion
    while True:
        try:
            lib.waitForSlotEvent(PyKCS11.CKF_DONT_BLOCK)
        except PyKCS11.PyKCS11Error:
            break
    # PyKCS11 holds the interpreter lock while it waits, so the card is moved by a
    # process of its own; an alarm ends the script if the wait never returns
    for command, present in (("remove", False), ("insert", True)):
        mover = subprocess.Popen(["sh", "-c", "sleep 0.3; echo %s >&%d" %
                                  (command, card.process.stdin.fileno())],
                                 pass_fds=(card.process.stdin.fileno(),))
        signal.alarm(20)
        reported = lib.waitForSlotEvent()
        signal.alarm(0)
        mover.wait()
        card.process.stdout.readline()  # cardsim's answer to the command
        check(reported == slot, "PyKCS11 waitForSlotEvent wakes on " + command,
              str(reported))
        check(wait_for_token(lib, present), "token %s after %s" %
              ("present" if present else "gone", command))


def vok_tools():
    code, out = run("pkcs11-tool", "--module", MODULE, "-L", "-M", "-O")
    check(code == 0 and "vOK RAL" in out and "SHA256-RSA-PKCS" in out
          and "Certificate Object" in out and "Public Key Object" in out
          and "cardsim-container-01" in out and "Private Key Object" not in out,
          "pkcs11-tool -L -M -O shows the vOK token, its mechanisms and public objects", out)
    code, out = run("p11tool", "--provider", MODULE, "--list-all", "pkcs11:token=vOK%20RAL")
    check(code == 0 and out.count("Type: X.509 Certificate") == 4
          and out.count("Type: Public key") == 4, "p11tool --list-all", out)


def key_ids(lib_path, purpose):
    """CKA_ID (hex) of each private key of the token that has the purpose, with its
    container name."""
    lib = PyKCS11.PyKCS11Lib()
    lib.load(lib_path)
    session = lib.openSession(lib.getSlotList(tokenPresent=True)[0])
    session.login(PIN)
    ids = {}
    for key in session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY),
                                    (purpose, True)]):
        key_id, label = session.getAttributeValue(key, [PyKCS11.CKA_ID, PyKCS11.CKA_LABEL])
        ids[label] = bytes(key_id).hex()
    session.logout()
    session.closeSession()
    return ids


def vok_login_tools(work):
    code, out = run("pkcs11-tool", "--module", MODULE, "--login", "--pin", PIN, "-O")
    check(code == 0 and out.count("Private Key Object") == 4,
          "pkcs11-tool --login -O lists the private keys", out)

    def path(name):
        return os.path.join(work, name)

    def tool(*args):
        return run("pkcs11-tool", "--module", MODULE, *args)

    signing = key_ids(MODULE, PyKCS11.CKA_SIGN)["cardsim-container-00"]
    decrypting = key_ids(MODULE, PyKCS11.CKA_DECRYPT)["cardsim-container-00"]
    with open(path("document"), "wb") as f:
        f.write(b"signed by the card through pkcs11-tool\n")

    # a signature that OpenSSL verifies with the key of the card's certificate
    code, out = tool("--login", "--pin", PIN, "--sign", "-m", "SHA256-RSA-PKCS", "--id", signing,
                     "-i", path("document"), "-o", path("signature"))
    check(code == 0, "pkcs11-tool --sign -m SHA256-RSA-PKCS", out)
    code, out = tool("--read-object", "--type", "cert", "--id", signing, "-o", path("cert.der"))
    code2, out2 = run("openssl", "x509", "-inform", "DER", "-in", path("cert.der"), "-pubkey",
                      "-noout", "-out", path("signer.pem"))
    code3, out3 = run("openssl", "dgst", "-sha256", "-verify", path("signer.pem"), "-signature",
                      path("signature"), path("document"))
    check(code == 0 and code2 == 0 and code3 == 0 and "Verified OK" in out3,
          "openssl dgst -verify accepts the card's signature", out + out2 + out3)

    # what OpenSSL encrypted for the exchange key, decrypted on the card
    tool("--read-object", "--type", "cert", "--id", decrypting, "-o", path("exchange.der"))
    run("openssl", "x509", "-inform", "DER", "-in", path("exchange.der"), "-pubkey", "-noout",
        "-out", path("exchange.pem"))
    with open(path("plain"), "wb") as f:
        f.write(b"for the card only")
    code, out = run("openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", path("exchange.pem"),
                    "-in", path("plain"), "-out", path("encrypted"))
    code2, out2 = tool("--login", "--pin", PIN, "--decrypt", "-m", "RSA-PKCS", "--id", decrypting,
                       "-i", path("encrypted"), "-o", path("decrypted"))
    with open(path("decrypted"), "rb") as f:
        decrypted = f.read()
    check(code == 0 and code2 == 0 and decrypted == b"for the card only",
          "pkcs11-tool --decrypt of openssl pkeyutl -encrypt output", out + out2)

    # the user PIN changed and back; a new one from the security officer and back
    code, out = tool("--change-pin", "--pin", PIN, "--new-pin", "654321")
    code2, out2 = tool("--login", "--pin", "654321", "-O")
    code3, out3 = tool("--change-pin", "--pin", "654321", "--new-pin", PIN)
    check(code == 0 and code2 == 0 and code3 == 0, "pkcs11-tool --change-pin",
          out + out2 + out3)
    code, out = tool("--login", "--login-type", "so", "--so-pin", "12345678", "--init-pin",
                     "--new-pin", "111111")
    code2, out2 = tool("--change-pin", "--pin", "111111", "--new-pin", PIN)
    check(code == 0 and code2 == 0, "pkcs11-tool --login --login-type so --init-pin",
          out + out2)


def verifies(modulus, exponent, message, signature):
    """A PKCS#1 v1.5 SHA-256 signature checked with the public key's own arithmetic."""
    k = len(modulus)
    digest_info = bytes.fromhex("3031300d060960864801650304020105000420")
    expected = digest_info + hashlib.sha256(message).digest()
    block = b"\x00\x01" + b"\xff" * (k - 3 - len(expected)) + b"\x00" + expected
    value = pow(int.from_bytes(bytes(signature), "big"), int.from_bytes(bytes(exponent), "big"),
                int.from_bytes(bytes(modulus), "big"))
    return value.to_bytes(k, "big") == block


def vok_pykcs11():
    lib = PyKCS11.PyKCS11Lib()
    lib.load(MODULE)
    slot = lib.getSlotList(tokenPresent=True)[0]
    check(lib.getTokenInfo(slot).label.strip() == "vOK RAL", "PyKCS11 token label")
    session = lib.openSession(slot)
    certificates = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_CERTIFICATE)])
    keys = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY)])
    key_ids = {bytes(session.getAttributeValue(k, [PyKCS11.CKA_ID])[0]) for k in keys}
    certificate_ids = [bytes(session.getAttributeValue(c, [PyKCS11.CKA_ID])[0])
                       for c in certificates]
    check(len(certificates) == 4 and len(key_ids) == 4
          and all(len(i) == 20 and i in key_ids for i in certificate_ids),
          "PyKCS11 lists the certificates and public keys, a key's CKA_ID on each certificate",
          "%r %r" % (certificate_ids, key_ids))

    # a signature by a card key, verified against its public key
    session.login(PIN)
    private = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY),
                                   (PyKCS11.CKA_SIGN, True)])[0]
    key_id = session.getAttributeValue(private, [PyKCS11.CKA_ID])[0]
    public = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY),
                                  (PyKCS11.CKA_ID, key_id)])[0]
    modulus, exponent = session.getAttributeValue(
        public, [PyKCS11.CKA_MODULUS, PyKCS11.CKA_PUBLIC_EXPONENT])
    mechanism = PyKCS11.Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS, None)
    signature = session.sign(private, b"message", mechanism)
    check(verifies(modulus, exponent, b"message", signature)
          and not verifies(modulus, exponent, b"other message", signature),
          "PyKCS11 signs with a card key and the signature verifies")
    session.logout()
    session.closeSession()


def token_in(module, present):
    """Waits until a token of the module comes (or goes); true when it did."""
    lib = PyKCS11.PyKCS11Lib()
    lib.load(module)
    return wait_for_token(lib, present)


def vok_crypto_and_deletion(card):
    code, out = run("pkcs11-tool", "--module", MODULE, "--test", "--login", "--pin", PIN)
    check(code == 0 and "No errors" in out and "Digests:" in out and "Verify" in out,
          "pkcs11-tool --test with the PIN", out)

    payload = b"signed and hashed by the vOK token\n" * 100
    with tempfile.TemporaryDirectory() as tmp:
        data, result = os.path.join(tmp, "data"), os.path.join(tmp, "result")
        with open(data, "wb") as f:
            f.write(payload)
        for mechanism, digest in (("MD5", hashlib.md5), ("SHA-1", hashlib.sha1),
                                  ("SHA224", hashlib.sha224), ("SHA256", hashlib.sha256),
                                  ("SHA384", hashlib.sha384), ("SHA512", hashlib.sha512)):
            code, out = run("pkcs11-tool", "--module", MODULE, "--hash", "-m", mechanism,
                            "-i", data, "-o", result)
            with open(result, "rb") as f:
                check(code == 0 and f.read() == digest(payload).digest(),
                      "pkcs11-tool --hash -m " + mechanism, out)

        # the signature key of the second container: signed on the card, verified by
        # the module in software and by OpenSSL with the certificate's key
        lib = PyKCS11.PyKCS11Lib()
        lib.load(MODULE)
        session = lib.openSession(lib.getSlotList(tokenPresent=True)[0])
        ids = {}
        for usage in (PyKCS11.CKA_VERIFY, PyKCS11.CKA_ENCRYPT):
            keys = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY),
                                        (PyKCS11.CKA_LABEL, "cardsim-container-01"),
                                        (usage, True)])
            ids[usage] = bytes(session.getAttributeValue(keys[0], [PyKCS11.CKA_ID])[0]).hex()
        key_id, exchange_id = ids[PyKCS11.CKA_VERIFY], ids[PyKCS11.CKA_ENCRYPT]
        session.closeSession()
        del lib
        signature, bad = os.path.join(tmp, "signature"), os.path.join(tmp, "bad")
        code, out = run("pkcs11-tool", "--module", MODULE, "--login", "--pin", PIN, "--sign",
                        "-m", "SHA256-RSA-PKCS", "--id", key_id, "-i", data, "-o", signature)
        check(code == 0, "pkcs11-tool --sign on the card", out)
        with open(signature, "rb") as f:
            flipped = bytearray(f.read())
        flipped[10] ^= 1
        with open(bad, "wb") as f:
            f.write(flipped)
        verify = ("pkcs11-tool", "--module", MODULE, "--verify", "-m", "SHA256-RSA-PKCS",
                  "--id", key_id, "-i", data, "--signature-file")
        code, out = run(*verify, signature)
        check(code == 0 and "Signature is valid" in out, "pkcs11-tool --verify", out)
        code, out = run(*verify, bad)
        check("Invalid signature" in out and "Signature is valid" not in out,
              "pkcs11-tool --verify refuses a damaged signature", out)
        certificate, public = os.path.join(tmp, "cert.der"), os.path.join(tmp, "public.pem")
        run("pkcs11-tool", "--module", MODULE, "--read-object", "--type", "cert",
            "--id", key_id, "-o", certificate)
        run("sh", "-c", 'openssl x509 -inform DER -in "$0" -pubkey -noout > "$1"',
            certificate, public)
        code, out = run("openssl", "dgst", "-sha256", "-verify", public, "-signature",
                        signature, data)
        check(code == 0 and "Verified OK" in out, "OpenSSL verifies the card's signature", out)

    # the certificate goes from the card at once, a key stays on the card hidden in
    # the attribute file until neither key of its container has a visible object left
    def objects(object_id):
        code, out = run("pkcs11-tool", "--module", MODULE, "--login", "--pin", PIN, "-O")
        return out.count("ID:         " + object_id)

    def delete(object_type, object_id):
        code, out = run("pkcs11-tool", "--module", MODULE, "--login", "--pin", PIN,
                        "--delete-object", "--type", object_type, "--id", object_id)
        return code == 0, out, card.listing("files"), card.listing("keys")

    def has(lines, prefix):
        return any(line.startswith(prefix) for line in lines)

    check(objects(key_id) == 3, "the certificate and both keys before deleting")
    ok, out, files, keys = delete("cert", key_id)
    check(ok and objects(key_id) == 2 and not has(files, "mscp ksc01 ")
          and has(files, "mscp kxc01 "),
          "pkcs11-tool --delete-object --type cert deletes the certificate file", out)
    ok, out, files, keys = delete("privkey", key_id)
    check(ok and objects(key_id) == 1 and has(files, "qv_p11 cont01 ") and has(keys, "1 0 "),
          "pkcs11-tool --delete-object --type privkey hides the key, the card keeps it", out)
    ok, out, files, keys = delete("pubkey", key_id)
    check(ok and objects(key_id) == 0 and has(keys, "1 0 "),
          "pkcs11-tool --delete-object --type pubkey: the exchange key's objects keep the "
          "container", out)
    for object_type in ("cert", "privkey", "pubkey"):
        ok, out, files, keys = delete(object_type, exchange_id)
        check(ok, "pkcs11-tool --delete-object --type %s of the exchange key" % object_type, out)
    check(objects(exchange_id) == 0 and not has(keys, "1 ") and has(keys, "0 0 ")
          and not has(files, "qv_p11 cont01 ") and not has(files, "mscp kxc01 "),
          "the last visible object takes the card container", "\n".join(files + keys))


def main():
    card = Card()
    try:
        # The reader service sees a card leave only at its next presence poll: the
        # card of an earlier test (this one's previous run, say) may still be there,
        # and would pass for ours.
        check(token_in(TEST_MODULE, False), "the reader is empty before the card goes in")
        card.command("insert")
        check(token_in(TEST_MODULE, True), "the other card becomes the fake token")
        tools()
        pykcs11(card)
        # the next card goes into the same reader once the service has seen this one go
        card.command("remove")
        token_in(TEST_MODULE, False)
    finally:
        card.close()

    card = Card(CARDSIM, "--reader", "0", "--no-insert", "--containers", "2")
    try:
        card.command("insert")
        check(token_in(MODULE, True), "the simulated vOK card becomes a token")
        vok_tools()
        vok_pykcs11()
        with tempfile.TemporaryDirectory() as work:
            vok_login_tools(work)
        vok_crypto_and_deletion(card)
    finally:
        card.close()
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
