#!/bin/sh
# check_32bit_skip.sh WINE-RUN-COMMAND...: with the "no 32-bit programs"
# answer forced, a 32-bit run must be skipped with that one reason, whatever
# this kernel can do. Skipped itself (77) where Wine is not installed.
out=$(KELO_ASSUME_NO_32BIT=1 "$@")
status=$?
echo "$out"
case $out in
  "SKIPPED: not installed"*) exit 77 ;;
esac
[ "$status" -eq 77 ] && [ "$out" = "SKIPPED: this kernel runs no 32-bit programs" ]
