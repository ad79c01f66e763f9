#!/bin/sh
# SPDX-License-Identifier: MIT
# The first process of the emulated i386 guest (tools/windows/guest.sh):
# mounts what a shell and Wine need, the run's folder and the shared one
# from the host, runs the command found in the run's folder with its output
# on the serial console, leaves its exit status beside it and powers off.
# Everything the command writes outside the shared folder is gone then.
PATH=/usr/sbin:/usr/bin:/sbin:/bin
export PATH HOME=/root LANG=C.UTF-8
mount -o remount,rw /
# The initrd has mounted some of these already.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
dmesg -n 1
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up
hostname orvex-guest
modprobe 9pnet_virtio
# A large msize: the test programs and the checks' files cross it.
share_options=trans=virtio,version=9p2000.L,msize=524288,cache=loose
mkdir -p /orvex-run
mount -t 9p -o "$share_options" orvex-run /orvex-run
share=$(cat /orvex-run/share)
mkdir -p "$share"
mount -t 9p -o "$share_options" orvex-share "$share"

bash /orvex-run/command </dev/null >/dev/console 2>&1
echo $? >/orvex-run/status
sync
umount "$share" /orvex-run
echo o >/proc/sysrq-trigger
sleep 60
