# Installed trees on the host side: compared with the staged product,
# summed up to see that nothing changed, searched for temporary files.

# Compares an installed tree with the staged product whose files LIST
# names (one a line, '/' as separator): same files, same bytes, same
# modification times (to the second), the read-only licence without write
# permission. Prints what differs; fails when anything does.
qv_compare_tree() {  # qv_compare_tree LIST STAGE DIR [NAME-TO-SKIP]
    local list=$1 stage=$2 dir=$3 skip=${4:-} problems=0 name
    while IFS= read -r name; do
        name=${name%$'\r'}
        [ -n "$name" ] || continue
        [ "$name" = "$skip" ] && continue
        if [ ! -f "$dir/$name" ]; then
            echo "missing $name"; problems=$((problems + 1)); continue
        fi
        if ! cmp -s "$stage/$name" "$dir/$name"; then
            echo "content of $name differs"; problems=$((problems + 1))
        fi
        if [ "$(stat -c %Y "$stage/$name")" != "$(stat -c %Y "$dir/$name")" ]; then
            echo "time of $name: $(date -r "$dir/$name" '+%F %T'), stored $(date -r "$stage/$name" '+%F %T')"
            problems=$((problems + 1))
        fi
    done <"$list"
    local extra
    extra=$( (cd "$dir" && find . -type f | sed 's|^\./||' | sort) |
        comm -23 - <(tr -d '\r' <"$list" | sort))
    [ -n "$extra" ] && { echo "files not in the product: $extra"; problems=$((problems + 1)); }
    if [ -f "$dir/LICENSE.TXT" ] && [ "$(stat -c %A "$dir/LICENSE.TXT" | tr -cd w)" != "" ]; then
        echo "LICENSE.TXT is writable, stored read-only"; problems=$((problems + 1))
    fi
    if [ -f "$dir/README.TXT" ] && [ "$(stat -c %A "$dir/README.TXT" | cut -c3)" != w ]; then
        echo "README.TXT is read-only, stored writable"; problems=$((problems + 1))
    fi
    [ "$problems" -eq 0 ]
}

# Every file and directory below DIR with its type, size, mode, time and
# content checksum, one a line: equal output means an unchanged tree.
qv_tree_state() {  # qv_tree_state DIR
    (cd "$1" && find . -mindepth 1 -printf '%P %y %s %m %T@\n' | sort && find . -type f -exec md5sum {} + | sort -k 2)
}

# The first three temporary files (the installer's "~" names) below DIR,
# on one line; nothing when there are none.
qv_temporary_files() {  # qv_temporary_files DIR
    (cd "$1" && find . -name '~*' | head -n 3 | tr '\n' ' ')
}
