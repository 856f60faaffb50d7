#!/usr/bin/python3
# Debian's PKCS#11 applications load the test build of the module (any card becomes
# the fake token) with a simulated card in the first virtual reader:
# pkcs11-tool, p11tool, p11-kit with a private configuration, and a PyKCS11 script.
# Usage: clients_test.py MODULE CARDSIM
import os
import signal
import subprocess
import sys
import tempfile
import time

import PyKCS11

MODULE, CARDSIM = sys.argv[1], sys.argv[2]
READERS = ["Virtual PCD 00 00", "Virtual PCD 00 01"]
LABEL = "Fake test token"
PIN = "123456"
OBJECTS = ["Fake data one", "Fake data two"]  # the data objects on the test build's token
failures = []


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
    """The simulated card, driven through cardsim's control commands."""

    def __init__(self):
        self.process = subprocess.Popen([CARDSIM, "--reader", "0", "--no-insert"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)

    def command(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

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
    code, out = run("pkcs11-tool", "--module", MODULE, "--show-info")
    check(code == 0 and "2.20" in out and "vOK" in out and "vOK eID PKCS#11 library" in out,
          "pkcs11-tool --show-info", out)
    code, out = run("pkcs11-tool", "--module", MODULE, "-L")
    check(code == 0 and all(r in out for r in READERS) and LABEL in out,
          "pkcs11-tool -L lists both readers and the token", out)
    code, out = run("pkcs11-tool", "--module", MODULE, "-T")
    check(code == 0 and LABEL in out and out.count("Slot ") == 1, "pkcs11-tool -T", out)
    code, out = run("pkcs11-tool", "--module", MODULE, "-M")
    check(code == 0 and "SHA256-RSA-PKCS" in out and "SHA256" in out, "pkcs11-tool -M", out)
    code, out = run("pkcs11-tool", "--module", MODULE, "-O", "--login", "--pin", PIN)
    check(code == 0 and out.count("Data object") == len(OBJECTS)
          and all("label:          '%s'" % label in out for label in OBJECTS),
          "pkcs11-tool -O --login lists the token's objects", out)
    code, out = run("p11tool", "--provider", MODULE, "--list-tokens")
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
            f.write("module: %s\n" % MODULE)
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
    lib.load(MODULE)
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


def main():
    card = Card()
    try:
        lib = PyKCS11.PyKCS11Lib()
        lib.load(MODULE)
        # The reader service sees a card leave only at its next presence poll: the
        # card of an earlier test (this one's previous run, say) may still be there,
        # and would pass for ours.
        check(wait_for_token(lib, False), "the reader is empty before the card goes in")
        card.command("insert")
        check(wait_for_token(lib, True), "the simulated card becomes a token")
        del lib
        tools()
        pykcs11(card)
    finally:
        card.close()
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
