#!/bin/sh
# PID 1 of the test guest. Mounts what Wine and the tests need and the project folder (9p),
# runs the one command named by mvr.run= on the kernel command line from that folder, writes
# its output and exit code next to it, and powers the machine off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 HOME=/root
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm /mnt/project
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname mvr-guest
modprobe 9pnet_virtio 2>/dev/null
mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 project /mnt/project

run=
for word in $(cat /proc/cmdline); do
  case "$word" in mvr.run=*) run=${word#mvr.run=} ;; esac
done
dir=/mnt/project/$run
if [ -n "$run" ] && [ -f "$dir/cmd.sh" ]; then
  echo "mvr-guest: running $run/cmd.sh" > /dev/console
  (cd /mnt/project && sh "$dir/cmd.sh" > "$dir/out.txt" 2>&1 < /dev/null)
  echo $? > "$dir/rc.tmp" && mv "$dir/rc.tmp" "$dir/rc"
else
  echo "mvr-guest: no command (mvr.run=$run)" > /dev/console
fi
sync
umount /mnt/project 2>/dev/null
echo 1 > /proc/sys/kernel/sysrq
echo o > /proc/sysrq-trigger
sleep 10
