/* Runs a program as on a kernel that cannot execute 32-bit x86 code: a
 * seccomp filter kills every process, the program and all it starts, that
 * makes a system call of the i386 ABI, which only natively run 32-bit code
 * does (qemu-i386 makes its guest's calls as a 64-bit process). So a 32-bit
 * process that Wine would start without qemu fails here as it would there,
 * rather than pass on this host alone.
 * Usage: no_i386 PROGRAM [ARGUMENT...] */
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: no_i386 PROGRAM [ARGUMENT...]\n");
    return 126;
  }
  struct sock_filter program[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const struct sock_fprog filter = {sizeof program / sizeof program[0],
                                    program};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    perror("no_i386: seccomp");
    return 126;
  }
  execvp(argv[1], argv + 1);
  perror("no_i386: exec");
  return 127;
}
