# Sourced by the scripts: whether this host runs 32-bit x86 (i386) programs.
#
# host_runs_i386: true when the kernel runs an i386 Linux program. It writes
# and runs the smallest such program (an ELF header, one program header and
# the exit system call with status 42) instead of installing 32-bit packages
# first: some hosts lack the kernel's 32-bit support (Exec format error).
# i386_reason receives why not, for the message that skips the stage.
host_runs_i386() {
  local probe status
  probe=$(mktemp)
  python3 - "$probe" <<'PY'
import struct, sys
base = 0x08048000
code = bytes([0xB8, 1, 0, 0, 0,    # mov eax, 1 (exit)
              0xBB, 42, 0, 0, 0,   # mov ebx, 42
              0xCD, 0x80])         # int 0x80
size = 52 + 32 + len(code)
header = struct.pack("<16sHHIIIIIHHHHHH", b"\x7fELF\x01\x01\x01", 2, 3, 1, base + 84, 52, 0, 0,
                     52, 32, 1, 0, 0, 0)
program = struct.pack("<8I", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
  chmod +x "$probe"
  status=0
  i386_reason=$("$probe" 2>&1) || status=$?
  rm -f "$probe"
  if [ "$status" -eq 42 ]; then
    return 0
  fi
  i386_reason="a 32-bit x86 program does not run here (status $status${i386_reason:+: $i386_reason})"
  return 1
}
