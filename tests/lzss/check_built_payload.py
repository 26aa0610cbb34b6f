"""Reads the payload back out of a built launcher: the "LZT"/"UPEXE" resource
must be a sound container that the launcher's decoder (through kvlzss) turns
into the update program the build embedded, byte for byte, and the
"LZT"/"UPSUM" record must match that program.

Usage: check_built_payload.py LAUNCHER.exe KVLZSS PROGRAM_RECORD
PROGRAM_RECORD is the file the build writes beside the container, naming the
update program it compressed."""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources'))
from pe_resources import read_resources  # noqa: E402

JAPANESE = 0x0411


def main():
    launcher, kvlzss, record = sys.argv[1:4]
    for path in (launcher, record):
        if not os.path.exists(path):
            sys.exit(f'{path} is missing: build the Windows launchers first (make build)')
    program_path = open(record, encoding='utf-8').read().strip()
    program = open(program_path, 'rb').read()

    resources = read_resources(launcher)
    failures = []
    found = {}
    for name in ('UPEXE', 'UPSUM'):
        if ('LZT', name) not in resources:
            sys.exit(f'{launcher}: no resource of type "LZT" named "{name}"')
        language, body = resources[('LZT', name)]
        if language != JAPANESE:
            failures.append(f'"LZT"/"{name}" is stored under language {language:#06x}, not {JAPANESE:#06x}')
        found[name] = body

    with tempfile.TemporaryDirectory() as work:
        container = os.path.join(work, 'payload.lzt')
        digest = os.path.join(work, 'payload.sum')
        decoded = os.path.join(work, 'update.exe')
        open(container, 'wb').write(found['UPEXE'])
        open(digest, 'wb').write(found['UPSUM'])
        check = subprocess.run([kvlzss, 'check', container, '--digest', digest], capture_output=True, text=True)
        print(check.stdout + check.stderr, end='')
        if check.returncode != 0:
            failures.append('the embedded container does not pass kvlzss check')
        else:
            subprocess.run([kvlzss, 'decode', container, decoded], check=True, capture_output=True)
            if open(decoded, 'rb').read() != program:
                failures.append(f'the embedded program differs from {program_path}')

    if failures:
        for f in failures:
            print(f'FAIL: {launcher}: {f}')
        sys.exit(1)
    print(f'{launcher}: the embedded payload ({len(found["UPEXE"])} bytes) decodes to '
          f'{program_path} ({len(program)} bytes), byte for byte')


if __name__ == '__main__':
    main()
