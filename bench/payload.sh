# The LZMA benchmarks' payloads and installers, sourced by
# bench/lzma_peers.sh and bench/wine_install.sh. The payload: about 30 MB of
# PE32 DLLs and programs (Wine's), 18 MB of ELF shared libraries and 6 MB of
# C headers, 354 files on a machine with the bootstrap's packages.

# take DIR MIN_KIB MAX_BYTES PATTERN...: files under DIR of at least
# MIN_KIB KiB matching a pattern, in name order, until MAX_BYTES.
take() {
  local dir=$1 min=$2 max=$3 total=0 f size
  shift 3
  find "$dir" -type f -size +"$min"k \( "$@" \) 2>/dev/null | sort | while IFS= read -r f; do
    size=$(stat -c %s "$f")
    [ $((total + size)) -gt "$max" ] && continue
    total=$((total + size))
    echo "$f"
  done
}
# make_payload DIR: copies the payload into DIR, numbered in order.
make_payload() {
  local mb=$((1 << 20))
  {
    take /usr/lib/i386-linux-gnu/wine/i386-windows 32 $((30 * mb)) -name '*.dll' -o -name '*.exe'
    take /usr/lib/x86_64-linux-gnu 32 $((18 * mb)) -name '*.so*'
    take /usr/include 4 $((6 * mb)) -name '*.h'
  } >"$1.list"
  mkdir -p "$1"
  local i=0 f
  while IFS= read -r f; do
    cp "$f" "$1/$i-$(basename "$f" | tr A-Z a-z)"  # the installer lowercases names
    i=$((i + 1))
  done <"$1.list"
}


# make_app_payload DIR ARCH: an application's files, about 30 MB of Wine's
# DLLs and programs built for ARCH (x86 or x64), in name order.
make_app_payload() {
  local from=/usr/lib/i386-linux-gnu/wine/i386-windows f
  [ "$2" = x64 ] && from=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  mkdir -p "$1"
  take "$from" 32 $((30 << 20)) -name '*.dll' -o -name '*.exe' | while IFS= read -r f; do cp "$f" "$1/"; done
}

# write_installers DIR ARCH TITLE TOML NSI: the files of DIR (in `ls -v`
# order) into <p>\Bench for ARCH, as vornpack's solid LZMA manifest with
# [uninstall] (TOML) and as makensis' /SOLID lzma script with its
# uninstaller (NSI, writing NSI's name with .exe), whose removal deletes
# each file, itself and the folder.
write_installers() {
  local dir=$1 arch=$2 title=$3 name key="Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$3"
  local names
  mapfile -t names < <(ls -v "$dir")
  { echo "title = \"$title\""; echo "arch = \"$arch\""; echo 'method = "lzma"'; echo 'solid = true'
    printf '[uninstall]\nfolder = '"'"'<p>\\Bench'"'"'\n'
    for name in "${names[@]}"; do
      printf '[[file]]\nsource = "%s/%s"\ndestination = '"'"'<p>\\Bench\\%s'"'"'\n' "$dir" "$name" "$name"
    done; } >"$4"
  { echo "Target $([ "$arch" = x64 ] && echo amd64 || echo x86)-unicode"
    echo "Name \"$title\""; echo "OutFile \"${5%.nsi}.exe\""
    echo 'SetCompressor /SOLID lzma'; echo 'RequestExecutionLevel admin'
    echo "InstallDir \"\$PROGRAMFILES$([ "$arch" = x64 ] && echo 64)\\Bench\""
    echo 'Section'; echo 'SetOutPath $INSTDIR'
    for name in "${names[@]}"; do echo "File \"$dir/$name\""; done
    echo 'WriteUninstaller "$INSTDIR\uninstall.exe"'
    echo "WriteRegStr HKLM \"$key\" DisplayName \"$title\""
    echo "WriteRegStr HKLM \"$key\" UninstallString '\"\$INSTDIR\\uninstall.exe\"'"
    echo 'SectionEnd'; echo 'Section "Uninstall"'
    for name in "${names[@]}"; do echo "Delete \"\$INSTDIR\\$name\""; done
    echo 'Delete "$INSTDIR\uninstall.exe"'; echo 'RMDir "$INSTDIR"'
    echo "DeleteRegKey HKLM \"$key\""; echo 'SectionEnd'; } >"$5"
}
