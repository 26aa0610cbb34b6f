#!/usr/bin/env bash
# The kvlzss command line: results, messages and exit codes.
# Usage: kvlzss_cli_test.sh KVLZSS
set -uo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

# expect CODE PATTERN -- COMMAND...: the exit code, and a line of the output
# (stdout and stderr together) matching the extended regular expression.
expect() {
  local code=$1 pattern=$2
  shift 3
  local out status
  out=$("$@" 2>&1)
  status=$?
  if [ "$status" -ne "$code" ] || ! grep -Eq -- "$pattern" <<<"$out"; then
    echo "FAIL: $*"
    echo "  wanted exit $code and /$pattern/, got exit $status:"
    sed 's/^/  | /' <<<"$out"
    failures=$((failures + 1))
  fi
}

head -c 300000 /dev/urandom > random.bin
python3 -c "import sys; sys.stdout.buffer.write(b'MZ' + bytes(range(256)) * 500)" > program.exe
cat random.bin program.exe | head -c 400000 > exact.bin
head -c 400001 /dev/zero > over.bin
: > empty.bin
mkdir folder

# Usage errors: 1.
expect 0 'Exit codes' -- "$tool" --help
expect 1 'no command' -- "$tool"
expect 1 "unknown command 'pack'" -- "$tool" pack program.exe out.lzt
expect 1 'encode takes an input and an output' -- "$tool" encode program.exe
expect 1 'check takes one container' -- "$tool" check a.lzt b.lzt
expect 1 "not 'lots'" -- "$tool" encode program.exe out.lzt --max-decoded lots
expect 1 "not '0'" -- "$tool" encode program.exe out.lzt --max-decoded 0
expect 1 "unknown option '--fast'" -- "$tool" encode program.exe out.lzt --fast

# Input/output errors: 2.
expect 2 'cannot read missing.exe' -- "$tool" encode missing.exe out.lzt
expect 2 'cannot read folder: it is a directory' -- "$tool" encode folder out.lzt
expect 2 'update program is empty' -- "$tool" encode empty.bin out.lzt
expect 2 'cannot write nowhere/out.lzt' -- "$tool" encode program.exe nowhere/out.lzt
expect 2 'container file is empty' -- "$tool" check empty.bin

# Too large: 3, naming both sizes, and nothing written.
expect 3 "over.bin: update program is 400001 bytes, more than the 400000 bytes the launcher's payload area holds" \
  -- "$tool" encode over.bin over.lzt
[ -e over.lzt ] && { echo "FAIL: an output was written for a program that is too large"; failures=$((failures + 1)); }
expect 3 'is 128002 bytes, more than the 128001 bytes' -- "$tool" encode program.exe small.lzt --max-decoded 128001

# Encode, check, decode.
expect 0 'exact.bin: 400000 bytes -> exact.lzt' -- "$tool" encode exact.bin exact.lzt
expect 0 'decodes to 400000 bytes' -- "$tool" check exact.lzt
expect 0 'program.exe: 128002 bytes -> program.lzt' -- "$tool" encode program.exe program.lzt --digest program.sum
expect 0 'decodes to 128002 bytes' -- "$tool" check program.lzt --digest program.sum
expect 0 '' -- "$tool" decode program.lzt back.exe
cmp -s program.exe back.exe || { echo "FAIL: decode did not give the program back"; failures=$((failures + 1)); }
[ "$(stat -c %s program.sum)" = 36 ] || { echo "FAIL: the integrity record is not 36 bytes"; failures=$((failures + 1)); }
expect 0 'random.bin: 300000 bytes' -- "$tool" encode random.bin random.lzt
expect 0 'decodes to 300000 bytes' -- "$tool" check random.lzt
expect 3 'decodes to 128002 bytes, more than the 128001 bytes' -- "$tool" check program.lzt --max-decoded 128001

# Damaged containers: 3, and decode writes nothing.
python3 - <<'EOF'
data = open('program.lzt', 'rb').read()
open('marker.lzt', 'wb').write(b'\x4D' + data[1:])
open('short.lzt', 'wb').write(data[:-1])
open('long.lzt', 'wb').write(data + b'\x00')
open('header.lzt', 'wb').write(data[:3])
length = len(data) - 5 - 1
open('cut.lzt', 'wb').write(b'\xC6' + length.to_bytes(4, 'little') + data[5:-1])
open('stale.lzt', 'wb').write(bytes.fromhex('C6 03 00 00 00 00 EE F0'))
sum = bytearray(open('program.sum', 'rb').read()); sum[10] ^= 1
open('wrong.sum', 'wb').write(sum)
EOF
expect 3 'the first byte is 0x4D, not 0xC6' -- "$tool" check marker.lzt
expect 3 "says $(( $(stat -c %s program.lzt) - 5 )) bytes, but $(( $(stat -c %s program.lzt) - 6 )) follow" -- "$tool" check short.lzt
expect 3 'follow the header' -- "$tool" check long.lzt
expect 3 'shorter than the 5-byte header' -- "$tool" check header.lzt
expect 3 'ends inside an item' -- "$tool" check cut.lzt
expect 3 'reads ring positions 4078 to 4095' -- "$tool" check stale.lzt
expect 3 'does not match its record' -- "$tool" check program.lzt --digest wrong.sum
expect 3 'not an integrity record' -- "$tool" check program.lzt --digest program.lzt
expect 3 'not 0xC6' -- "$tool" decode marker.lzt marker.out
[ -e marker.out ] && { echo "FAIL: decode wrote a damaged container's output"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all kvlzss cases passed"
