#!/usr/bin/env bash
# Exit 0 when this machine's kernel runs 32-bit x86 programs, 1 when it
# doesn't (a kernel without IA-32 emulation, or with it switched off:
# ia32_emulation=0 on the command line, "32-bit emulation disabled" in dmesg).
#
# The test is to run one: a hand-made static i386 ELF of 96 bytes (an ELF
# header, one loadable segment, and exit(42) through int 0x80), so that no
# i386 library needs to be present. Where the kernel refuses 32-bit code,
# execve fails with ENOEXEC ("Exec format error") and the status is not 42.
# A folder mounted noexec says "Permission denied" instead: then the next
# folder is tried. Nothing conclusive anywhere counts as "doesn't run".
set -u

probe_bytes='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'  # 32-bit, little-endian, SysV
probe_bytes+='\x02\x00\x03\x00\x01\x00\x00\x00'                        # ET_EXEC, EM_386, version 1
probe_bytes+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'        # entry 0x08048054, phoff 52, no sections
probe_bytes+='\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'  # flags, ehsize 52, one phdr of 32
probe_bytes+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'  # PT_LOAD of the whole file
probe_bytes+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'  # 96 bytes, r-x, page aligned
probe_bytes+='\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80'                  # exit(42)

here="$(cd "$(dirname "$0")" && pwd)"
for dir in "${TMPDIR:-/tmp}" /dev/shm /var/tmp "$here"; do
  [ -d "$dir" ] && [ -w "$dir" ] || continue
  probe="$(mktemp "$dir/runs-32bit.XXXXXX" 2>/dev/null)" || continue
  printf "$probe_bytes" > "$probe"
  chmod 700 "$probe"  # a file of our own made executable, not an access test
  output="$("$probe" 2>&1)"
  status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ] && exit 0
  case "$output" in
    *"Permission denied"*) continue ;;  # noexec mount: try elsewhere
    *) exit 1 ;;
  esac
done
exit 1
