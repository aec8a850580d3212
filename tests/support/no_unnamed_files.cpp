// Runs a program as on a file system that has no files without a name (FAT, or
// a kernel before 3.11): every open with O_TMPFILE fails with EOPNOTSUPP, so
// that a test reaches the save's named temporary file. A seccomp filter, which
// outlives the exec and strace traces through.
//   no_unnamed_files PROGRAM [ARGUMENT...]
#include <errno.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3),
      // The low half of the flags, where O_TMPFILE's own bit is (little-endian).
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  const sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    perror("no_unnamed_files: seccomp");
    return 2;
  }
  execv(argv[1], argv + 1);
  perror("no_unnamed_files: exec");
  return 2;
}
