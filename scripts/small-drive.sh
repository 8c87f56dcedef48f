#!/bin/sh
# The small drive S: of the disk-full scenario: a 96 MB memory file system
# mapped as a drive of the test prefix. Where the machine does not allow a
# mount, no drive is made and the scenario says it was skipped.
#     small-drive.sh up|down <wine prefix>   (FW_TEST_PREFIX, when set, is the prefix)
action=$1
prefix=${FW_TEST_PREFIX:-$2}
# Outside the build tree, so that removing a build never meets a mount.
dir=/tmp/fw-smalldrive-$(printf '%s' "$prefix" | md5sum | cut -c1-12)
link="$prefix/dosdevices/s:"
case "$action" in
up)
    mkdir -p "$dir"
    if ! mountpoint -q "$dir" && ! mount -t tmpfs -o size=96m fwsmalldrive "$dir" 2>/dev/null; then
        echo "no small drive: this machine does not allow the mount"
        rmdir "$dir" 2>/dev/null
        exit 0
    fi
    find "$dir" -mindepth 1 -delete
    ln -sfn "$dir" "$link"
    echo "small drive S: is $dir ($(df -h "$dir" | tail -1))"
    ;;
down)
    rm -f "$link"
    if mountpoint -q "$dir"; then
        umount "$dir"
    fi
    rmdir "$dir" 2>/dev/null
    ;;
esac
exit 0
