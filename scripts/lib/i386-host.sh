# Sourced by the scripts: can this host run the 32-bit Wine, natively or through qemu-user?
# Some hosts' kernels run no i386 program at all ("32-bit emulation disabled"); there qemu-i386, registered with
# binfmt_misc, runs them. A binfmt_misc entry is consulted before the kernel's own ELF loader, so registering it on
# a host that runs i386 natively forces the emulated path (TAVILO_EMULATE_I386=1 in scripts/setup).
# shellcheck shell=bash

binfmt_dir=/proc/sys/fs/binfmt_misc
qemu_entry=$binfmt_dir/qemu-i386
qemu_binary=/usr/bin/qemu-i386
# i386 ELF executables and shared objects (ET_EXEC, ET_DYN), whatever the OS/ABI byte.
qemu_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
qemu_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Whether the kernel itself runs i386 programs, whatever binfmt_misc holds. The probe is a copy of the i386 loader
# with one padding byte of its ELF header set: the kernel ignores that byte, but no binfmt_misc entry for i386
# (whose masks require it to be zero) matches it, so a qemu entry cannot answer for the kernel. That leaves the
# kernel-wide entry alone, which a run on another checkout may be using at this very moment.
kernel_runs_i386() {
  local loader=/lib/ld-linux.so.2 dir status=0
  [ -e "$loader" ] || return 1
  dir=$(mktemp -d "${TMPDIR:-/tmp}/i386-probe.XXXXXX")
  cp "$loader" "$dir/probe"
  printf '\001' | dd of="$dir/probe" bs=1 seek=9 conv=notrunc status=none
  "$dir/probe" --version >/dev/null 2>&1 || status=1
  rm -rf "$dir"
  return $status
}

# Whether i386 programs run through our qemu entry (then everything 32-bit here is emulated).
i386_emulated() {
  [ -f "$qemu_entry" ] && head -n 1 "$qemu_entry" | grep -qx enabled
}

# "native" or "emulated": how this host runs the 32-bit Wine.
i386_mode() {
  if i386_emulated; then echo emulated; else echo native; fi
}

register_qemu_i386() {
  if [ ! -f "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir"
  fi
  if [ -f "$qemu_entry" ]; then
    if ! grep -qx "interpreter $qemu_binary" "$qemu_entry"; then
      echo "setup: $qemu_entry is registered with another interpreter:" >&2
      sed 's/^/  /' "$qemu_entry" >&2
      echo "setup: remove it (echo -1 > $qemu_entry) and run setup again" >&2
      return 1
    fi
    echo 1 >"$qemu_entry"
    return 0
  fi
  # F: the kernel opens the interpreter now, so it is found from any mount namespace and root later on.
  printf '%s' ":qemu-i386:M::$qemu_magic:$qemu_mask:$qemu_binary:F" >"$binfmt_dir/register"
}

unregister_qemu_i386() {
  if [ -f "$qemu_entry" ]; then echo -1 >"$qemu_entry"; fi
}
