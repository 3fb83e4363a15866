/* Ends at once with status 0 through the 32-bit system call interface, using nothing else: a
 * machine that runs it can execute 32-bit x86 programs. */
void _start(void) {
  __asm__ volatile("movl $1, %eax\n\txorl %ebx, %ebx\n\tint $0x80");
}
