# shellcheck shell=bash
# The preview of cluster/slurm_status.sh, sourced by it: the parts as they are
# now, merged into a PNG.
#
# The tasks replace their parts by rename at every checkpoint. Each part is
# opened here once, and exegfx-merge reads it through that descriptor
# (/dev/fd/N, which reopens the very file): a rename meanwhile gives the
# writer its new file and leaves this one whole, so no read is torn and no
# writer waits.

# The preview's name, before anything is read: a .png that is not the
# farm's picture.
check_preview() {
  [[ ${preview,,} == *.png ]] ||
    refuse "--preview writes a .png picture; \"$preview\" is not one"
  [ "$(realpath -m -- "$preview")" != "$(realpath -m -- "$dir/$picture")" ] ||
    refuse "--preview $preview would replace the farm's own picture; name another file"
}

# Writes the preview (exegfx-merge writes it whole, or leaves it as it was);
# false, with exegfx-merge's message, where it cannot.
write_preview() {
  local fds=() names=() out=() empty=() i j k fd c msgs rc
  for ((i = 0; i < parts; i++)); do
    c="count_$i"
    if [ "${!c:-0}" -gt 0 ] && exec {fd}<"$dir/part_$i.exr"; then
      fds+=("$fd") names+=("$dir/part_$i.exr") out+=("/dev/fd/$fd")
    else
      empty+=("$i")
    fi
  done 2>/dev/null
  if [ ${#fds[@]} -eq 0 ]; then
    echo "Preview: no part holds a frame yet; $preview was not written."
    return 0
  fi
  msgs=$("$bin/exegfx-merge" --force -o "$preview" "${out[@]}" 2>&1 >/dev/null)
  rc=$?
  for fd in "${fds[@]}"; do exec {fd}<&-; done
  # The parts' own names in its messages, the longest descriptor numbers first.
  for k in $(for j in "${!fds[@]}"; do echo "${fds[j]} $j"; done | sort -rn | cut -d" " -f2); do
    msgs=${msgs//"/dev/fd/${fds[k]}"/"${names[k]}"}
  done
  if [ "$rc" -ne 0 ]; then
    { echo "slurm_status.sh: no preview was written:"; sed 's/^exegfx-merge: /    /' <<<"$msgs"; } >&2
    return 1
  fi
  echo "Preview of the parts as they are now, in $preview:"
  sed 's/^exegfx-merge: //; s/^/    /' <<<"$msgs"
  [ ${#empty[@]} -eq 0 ] || echo "    Left out, holding no frame yet: part ${empty[*]}."
  return 0
}
